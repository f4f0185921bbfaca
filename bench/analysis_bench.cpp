// analysis_bench: the analyser's cost.  Builds an opened capture's history
// of SECONDS (default one hour) of the simulated central at 11,520 bytes/s,
// read every 10 ms, each item timed by its last byte as opening a capture
// does; then times the statistics and events of its whole span and of a
// tenth of it, and what one item costs the live session (the
// analysis fed as TBusSession::Take feeds it, against the same items
// without).
// The same history is then written to a session store in FOLDER (default
// the temporary folder; removed at the end) and counted again through a
// reader of the store, as a capture converted on opening is.
// Target: the whole hour (some 31 million items) in at most 1 s.
//
//   build-rel/bench/analysis_bench [SECONDS [FOLDER]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "analysis/BusAnalysis.h"
#include "bus/ItemClock.h"
#include "bus/RawFraming.h"
#include "session/SessionStore.h"
#include "sim/SimTraffic.h"
#include "traffic/TrafficArchive.h"
#include "traffic/TrafficRing.h"

namespace {

double Since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 3600;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: analysis_bench [SECONDS]\n");
    return 2;
  }
  constexpr int64_t kT0 = 1796738585000000;
  constexpr std::size_t kPerRead = 11520 / 100;
  TTrafficArchive archive(TTrafficArchive::kMaxMemoryLimit);
  archive.BeginSession(kT0);
  TSimTraffic traffic(1);
  // Each item at its last byte's estimated arrival, as opening a capture
  // times it (115200 baud 8N1: 86.8 µs a byte): a time per item.
  TItemClock clock(1e6 * 10 / 115200);
  TCaptureFramer* framing = nullptr;
  TCaptureFramer framer([&](std::string_view item) {
    return archive.Append(clock.ItemTime(framing->BytesAfter()), item);
  });
  framing = &framer;
  std::string stream;
  auto t0 = std::chrono::steady_clock::now();
  for (long read = 0; read < seconds * 100; ++read) {
    while (stream.size() < kPerRead) stream += traffic.NextItem();
    clock.Read(kT0 + read * 10000);
    framer.Feed(std::string_view(stream).substr(0, kPerRead));
    stream.erase(0, kPerRead);
  }
  framer.Finish();
  archive.Finish();
  std::printf("history: %ld s, %llu items, %llu bytes, %.1f MB held, built in %.2f s\n", seconds,
              static_cast<unsigned long long>(archive.End()),
              static_cast<unsigned long long>(archive.TotalBytes()),
              static_cast<double>(archive.MemoryBytes()) / 1e6, Since(t0));

  double best = 1e9;
  TBusAnalysis whole;
  for (int round = 0; round < 3; ++round) {
    TBusAnalysis a;
    t0 = std::chrono::steady_clock::now();
    AnalyseSpan(archive, 0, archive.End(), a);
    best = std::min(best, Since(t0));
    if (round == 0) whole = a;
  }
  std::printf("whole span: %.3f s (best of 3), %.1f ns/item; %llu events\n", best,
              best * 1e9 / static_cast<double>(archive.End()),
              static_cast<unsigned long long>(whole.EndEvent()));
  const uint64_t tenth = archive.End() / 10;
  best = 1e9;
  for (int round = 0; round < 3; ++round) {
    TBusAnalysis a;
    t0 = std::chrono::steady_clock::now();
    AnalyseSpan(archive, 4 * tenth, 5 * tenth, a);
    best = std::min(best, Since(t0));
  }
  std::printf("a tenth of it: %.3f s (best of 3)\n", best);

  // The history on disk, counted through a reader of its own.
  {
    const char* tmp = std::getenv("TMPDIR");
    const std::string root = argc > 2 ? argv[2] : tmp && *tmp ? tmp : "/tmp";
    TSessionStore store;
    if (!store.Create(root, kT0)) {
      std::fprintf(stderr, "analysis_bench: %s\n", store.ErrorText().c_str());
      return 1;
    }
    store.SetKeepAll(true);
    store.BeginSession(kT0);
    t0 = std::chrono::steady_clock::now();
    for (uint64_t seq = 0; seq < archive.End(); ++seq) {
      const std::string_view bytes = archive.Bytes(seq);
      store.Append(ClassifyItem(bytes), archive.TimeUs(seq), bytes);
    }
    store.Flush();
    std::printf("store: %.1f MB on disk, written in %.2f s\n",
                static_cast<double>(store.DiskBytes()) / 1e6, Since(t0));
    for (const bool tenthOnly : {false, true}) {
      best = 1e9;
      for (int round = 0; round < 3; ++round) {
        TSessionStore reader;
        TBusAnalysis a;
        t0 = std::chrono::steady_clock::now();
        if (!reader.OpenExisting(store.Folder(), true)) {  // what a capture opened again does
          std::fprintf(stderr, "analysis_bench: %s\n", reader.ErrorText().c_str());
          return 1;
        }
        if (tenthOnly)
          AnalyseSpan(reader, 4 * tenth, 5 * tenth, a);
        else
          AnalyseSpan(reader, 0, reader.End(), a);
        best = std::min(best, Since(t0));
        if (!tenthOnly && round == 0 && a.Stats().Items() != whole.Stats().Items()) {
          std::fprintf(stderr, "analysis_bench: the store gave %llu items, not %llu\n",
                       static_cast<unsigned long long>(a.Stats().Items()),
                       static_cast<unsigned long long>(whole.Stats().Items()));
          return 1;
        }
      }
      std::printf("from the store, %s: %.3f s (best of 3, opening the reader included)\n",
                  tenthOnly ? "a tenth" : "whole span", best);
    }
    // What the window does: a reader beside the store, its index copied.
    best = 1e9;
    for (int round = 0; round < 3; ++round) {
      TBusAnalysis a;
      t0 = std::chrono::steady_clock::now();
      const std::unique_ptr<TSessionStore> copy = store.ReaderCopy();
      AnalyseSpan(*copy, 0, copy->End(), a);
      best = std::min(best, Since(t0));
    }
    std::printf("from the store through ReaderCopy, whole span: %.3f s (best of 3)\n", best);
    const std::string folder = store.Folder();
    store.Close();
    TSessionStore::RemoveSession(folder);
  }

  // The live session's share: the ring alone, then the ring and the analysis.
  const uint64_t n = std::min<uint64_t>(archive.End(), 5000000);
  auto live = [&](bool analyse) {
    TTrafficRing ring;
    TBusAnalysis a;
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t seq = 0; seq < n; ++seq) {
      const std::string_view bytes = archive.Bytes(seq);
      const TBusItem kind = ClassifyItem(bytes);
      const uint64_t at = ring.End();
      ring.Append(kind, kT0 + static_cast<int64_t>(seq), bytes);
      if (analyse) a.Take(at, kind, ring.Device(at), kT0 + static_cast<int64_t>(seq), bytes);
    }
    return Since(start) * 1e9 / static_cast<double>(n);
  };
  double without = 1e9, with = 1e9;
  for (int round = 0; round < 3; ++round) {
    without = std::min(without, live(false));
    with = std::min(with, live(true));
  }
  std::printf(
      "live item: %.1f ns without the analysis, %.1f ns with (+%.1f ns; at 11,520 B/s "
      "about %.3f %% of a core more)\n",
      without, with, with - without,
      (with - without) * 1e-9 * static_cast<double>(archive.End()) / static_cast<double>(seconds) *
          100);
  return 0;
}
