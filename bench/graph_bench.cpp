// graph_bench: the graph's cost.  One hour of the simulated central's
// traffic at 11,520 bytes/s (items with their times) is fed into a series
// store (BM_FeedHour: what opening a one-hour capture adds to reading it),
// then the graph of that hour is drawn whole (BM_DrawHour: target under 1 s)
// and as the live view of the last 10 minutes (BM_DrawLive, once a second
// while following), each at the window's default size and at 1,600 x 900.
// Offscreen, into an image: the painting itself, not the screen.
//
//   build/bench/graph_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/GraphView.h"
#include "series/SeriesStore.h"
#include "sim/SimTraffic.h"

namespace {

constexpr int64_t kT0 = 1796738400LL * 1000000;
constexpr double kRate = 11520;  // bytes per second
constexpr int64_t kHourUs = 3600LL * 1000000;

struct TItems {
  std::vector<std::string> Bytes;
  std::vector<int64_t> Times;
  std::size_t Total = 0;
};

const TItems& Hour() {
  static const TItems hour = [] {
    TItems h;
    TSimTraffic traffic(11);
    double t = static_cast<double>(kT0);
    while (t < static_cast<double>(kT0 + kHourUs)) {
      std::string item = traffic.NextItem();
      h.Total += item.size();
      t += static_cast<double>(item.size()) * 1e6 / kRate;
      h.Times.push_back(static_cast<int64_t>(t));
      h.Bytes.push_back(std::move(item));
    }
    return h;
  }();
  return hour;
}

const TSeriesStore& HourStore() {
  static TSeriesStore store;
  if (store.Empty()) {
    const TItems& h = Hour();
    for (std::size_t i = 0; i < h.Bytes.size(); ++i) store.Add(h.Bytes[i], h.Times[i]);
    store.Finish();
  }
  return store;
}

void BM_FeedHour(benchmark::State& state) {
  const TItems& h = Hour();
  for (auto _ : state) {
    TSeriesStore store;
    for (std::size_t i = 0; i < h.Bytes.size(); ++i) store.Add(h.Bytes[i], h.Times[i]);
    store.Finish();
    benchmark::DoNotOptimize(store.EndSecond());
  }
  state.counters["items"] = static_cast<double>(h.Bytes.size());
  state.counters["ns_per_item"] = benchmark::Counter(
      static_cast<double>(h.Bytes.size()) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetBytesProcessed(static_cast<int64_t>(h.Total) * state.iterations());
}
BENCHMARK(BM_FeedHour)->Unit(benchmark::kMillisecond);

void Draw(benchmark::State& state, bool whole) {
  const TSeriesStore& store = HourStore();
  TGraphView view(store);
  view.SetDevice(3);
  view.resize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  view.show();
  if (whole) view.SetView(store.FirstSecond() * kUsPerSecond, store.EndSecond() * kUsPerSecond);
  QWidget* canvas = view.Canvas();
  QImage image(canvas->size(), QImage::Format_RGB32);
  for (auto _ : state) {
    QPainter p(&image);
    canvas->render(&p);
  }
  state.counters["seconds_shown"] =
      static_cast<double>(view.ViewEndUs() - view.ViewStartUs()) / kUsPerSecond;
}

void BM_DrawHour(benchmark::State& state) { Draw(state, true); }
void BM_DrawLive(benchmark::State& state) { Draw(state, false); }
BENCHMARK(BM_DrawHour)->Args({502, 357})->Args({1600, 900})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawLive)->Args({502, 357})->Args({1600, 900})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
