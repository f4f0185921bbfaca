// traffic_bench: the traffic history with a million items of simulated bus
// traffic: recording, building the shown rows for a filter (the work of a
// filter change), and saving every item as text.
// Targets (issue 14): a filter change <= 300 ms and a save of all rows
// <= 2 s with 1,000,000 items; at most 48 bytes per item.
//
//   build-rel/bench/traffic_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/SimTraffic.h"
#include "traffic/TrafficExport.h"
#include "traffic/TrafficFilter.h"
#include "traffic/TrafficRing.h"

namespace {

constexpr std::size_t kItems = 1000000;

// The simulated central's items, made once: about 7 ms of line time apart.
const std::vector<ByteString>& Items() {
  static const std::vector<ByteString> items = [] {
    std::vector<ByteString> v;
    v.reserve(kItems);
    TSimTraffic sim(20261208);
    while (v.size() < kItems) v.push_back(sim.NextItem());
    return v;
  }();
  return items;
}

TTrafficRing& FullRing() {
  static TTrafficRing* ring = [] {
    auto* r = new TTrafficRing(kItems);
    r->BeginSession(1700000000000000);
    int64_t t = 1700000000000000;
    for (const ByteString& item : Items()) r->Append(t += 700, item);
    return r;
  }();
  return *ring;
}

void BM_Record(benchmark::State& state) {
  const auto& items = Items();
  for (auto _ : state) {
    TTrafficRing ring(kItems);
    int64_t t = 0;
    for (const ByteString& item : items) ring.Append(t += 700, item);
    benchmark::DoNotOptimize(ring.End());
    state.counters["bytes_per_item"] =
        static_cast<double>(ring.MemoryBytes()) / static_cast<double>(ring.Count());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * items.size()));
}
BENCHMARK(BM_Record)->Unit(benchmark::kMillisecond);

// One filter change: the rows rebuilt from the whole ring with a new matcher
// (a changed text starts with nothing remembered).
void Rebuild(benchmark::State& state, const TTrafficFilter& filter) {
  TTrafficRing& ring = FullRing();
  std::size_t rows = 0, memory = 0;
  for (auto _ : state) {
    TTrafficIndex index;
    TTrafficMatcher matcher(filter.Text, 16);
    index.Reset(ring.First());
    index.Scan(ring, ring.End(), filter, matcher);
    rows = index.Rows();
    memory = index.MemoryBytes();
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["index_bytes_per_item"] = static_cast<double>(memory) / ring.Count();
}

void BM_FilterDefault(benchmark::State& state) { Rebuild(state, TTrafficFilter{}); }
BENCHMARK(BM_FilterDefault)->Unit(benchmark::kMillisecond);

void BM_FilterAllKinds(benchmark::State& state) {
  TTrafficFilter f;
  f.Kinds = TTrafficFilter::kAllKinds;
  Rebuild(state, f);
}
BENCHMARK(BM_FilterAllKinds)->Unit(benchmark::kMillisecond);

void BM_FilterOneDevice(benchmark::State& state) {
  TTrafficFilter f;
  f.Kinds = TTrafficFilter::kAllKinds;
  f.Devices = 1u << 5;
  Rebuild(state, f);
}
BENCHMARK(BM_FilterOneDevice)->Unit(benchmark::kMillisecond);

// A text on every item, calls included: the worst case of a filter.
void BM_FilterTextAllKinds(benchmark::State& state) {
  TTrafficFilter f;
  f.Kinds = TTrafficFilter::kAllKinds;
  f.Text = "loko #3";
  Rebuild(state, f);
}
BENCHMARK(BM_FilterTextAllKinds)->Unit(benchmark::kMillisecond);

void BM_FilterTextDefault(benchmark::State& state) {
  TTrafficFilter f;
  f.Text = "vyhybka";
  Rebuild(state, f);
}
BENCHMARK(BM_FilterTextDefault)->Unit(benchmark::kMillisecond);

// The worst case for a text: a million different items, so that nothing
// remembered helps and every item is formatted.
void BM_FilterTextAllDifferent(benchmark::State& state) {
  static TTrafficRing* ring = [] {
    auto* r = new TTrafficRing(kItems);
    // Locomotive speeds: 10,240 addresses, 30 speeds, both directions, each
    // with its comment (614,400 different items, then they repeat).
    for (uint32_t i = 0; i < kItems; ++i) {
      const uint32_t address = i / 60 % 10240, speed = i % 30, forward = i / 30 % 2;
      ByteString m = {'\x61', '\0', static_cast<char>(address >> 8), static_cast<char>(address),
                      static_cast<char>(speed | forward << 7)};
      r->Append(i, m);
    }
    return r;
  }();
  std::size_t rows = 0;
  for (auto _ : state) {
    TTrafficIndex index;
    TTrafficFilter f;
    f.Text = "rychlost P";
    TTrafficMatcher matcher(f.Text, 16);
    index.Reset(ring->First());
    index.Scan(*ring, ring->End(), f, matcher);
    rows = index.Rows();
  }
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_FilterTextAllDifferent)->Unit(benchmark::kMillisecond);

void BM_FindNoMatch(benchmark::State& state) {
  TTrafficRing& ring = FullRing();
  TTrafficIndex index;
  TTrafficFilter f;
  f.Kinds = TTrafficFilter::kAllKinds;
  TTrafficMatcher all("", 16);
  index.Reset(ring.First());
  index.Scan(ring, ring.End(), f, all);
  for (auto _ : state) {
    TTrafficMatcher matcher("no such text", 16);
    benchmark::DoNotOptimize(FindRow(ring, index, 0, true, matcher));
  }
}
BENCHMARK(BM_FindNoMatch)->Unit(benchmark::kMillisecond);

void BM_SaveAll(benchmark::State& state) {
  TTrafficRing& ring = FullRing();
  const std::string path = "/tmp/traffic_bench_" + std::to_string(getpid()) + ".txt";
  uint64_t lines = 0;
  for (auto _ : state) {
    std::string error;
    if (!ExportTraffic(ring, nullptr, TTimeMode::tmZero, 16, path, error, &lines))
      state.SkipWithError(error.c_str());
  }
  std::remove(path.c_str());
  state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_SaveAll)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
