// capture_bench: writing and reading a capture log of 4 MiB of bus traffic
// (the simulated central's stream cut into reads of 1-230 bytes, about what
// the reader gets every 10 ms at 115200 baud), plain and gzip-compressed.
// Throughput counts bus bytes, not the three times larger text.  The floor:
// the same files only read (and decompressed) without looking at the text.
// Target (issue 15): reading well over 10 MB of bus bytes per second.
//
//   TMPDIR=/dev/shm build/bench/capture_bench --benchmark_repetitions=5
//   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "capture/CaptureReader.h"
#include "capture/CaptureWriter.h"
#include "sim/SimTraffic.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kTrafficSize = 4 << 20;
constexpr int64_t kT0 = 1796738585000000;

struct TReads {
  std::vector<std::pair<std::string, int64_t>> Chunks;
  std::size_t Bytes = 0;
};

const TReads& Reads() {
  static const TReads reads = [] {
    TSimTraffic traffic(7);
    std::string stream;
    while (stream.size() < kTrafficSize) stream += traffic.NextItem();
    std::mt19937 rng(1);
    std::uniform_int_distribution<std::size_t> length(1, 230);
    TReads r;
    int64_t t = kT0;
    for (std::size_t at = 0; at < stream.size(); t += 10000) {
      const std::size_t n = std::min(length(rng), stream.size() - at);
      r.Chunks.emplace_back(stream.substr(at, n), t);
      at += n;
    }
    r.Bytes = stream.size();
    return r;
  }();
  return reads;
}

fs::path FileName(bool compressed) {
  return fs::temp_directory_path() /
         ("capture_bench-" + std::to_string(getpid()) + (compressed ? ".vlog.gz" : ".vlog"));
}

bool WriteLog(const fs::path& path) {
  TCaptureWriter log;
  if (!log.Open(path) || !log.WriteHeader({"/dev/ttyUSB0", "115200 8N1", "capture_bench", kT0}))
    return false;
  for (const auto& [bytes, t] : Reads().Chunks) log.AddChunk(bytes, t);
  return log.Close();
}

void BM_CaptureWrite(benchmark::State& state) {
  const fs::path path = FileName(state.range(0) != 0);
  Reads();  // made once, outside the measurement
  for (auto _ : state)
    if (!WriteLog(path)) state.SkipWithError("cannot write the log");
  state.counters["file_MB"] = static_cast<double>(fs::file_size(path)) / 1e6;
  fs::remove(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Reads().Bytes));
}
BENCHMARK(BM_CaptureWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_CaptureRead(benchmark::State& state) {
  const fs::path path = FileName(state.range(0) != 0);
  if (!WriteLog(path)) state.SkipWithError("cannot write the log");
  std::size_t bytes = 0, chunks = 0;
  for (auto _ : state) {
    TCaptureReader in;
    if (!in.Open(path)) state.SkipWithError("cannot read the log");
    TCaptureItem item;
    bytes = chunks = 0;
    while (in.Next(item)) {
      if (item.Kind != TCaptureKind::ckChunk) continue;
      bytes += item.Bytes.size();
      ++chunks;
    }
  }
  fs::remove(path);
  if (bytes != Reads().Bytes || chunks != Reads().Chunks.size())
    state.SkipWithError("the log does not read back as written");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Reads().Bytes));
  state.counters["chunks"] = static_cast<double>(chunks);
}
BENCHMARK(BM_CaptureRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The floor to compare reading with: the same file only read (and
// decompressed), its text not looked at.
void BM_FileReadOnly(benchmark::State& state) {
  const bool compressed = state.range(0) != 0;
  const fs::path path = FileName(compressed);
  if (!WriteLog(path)) state.SkipWithError("cannot write the log");
  static char buffer[256 * 1024];
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    gzFile gz = compressed ? gzdopen(fd, "rb") : nullptr;
    if (gz) gzbuffer(gz, 128 * 1024);
    long n;
    do n = gz ? gzread(gz, buffer, sizeof buffer) : read(fd, buffer, sizeof buffer);
    while (n > 0);
    gz ? gzclose(gz) : close(fd);
  }
  fs::remove(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Reads().Bytes));
}
BENCHMARK(BM_FileReadOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
