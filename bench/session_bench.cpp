// session_bench: the live session with its store on disk, without a window:
// SECONDS of the simulated central at RATE bytes/s go through TBusSession
// (ring, store, series, states) as fast as they can, one read every 10 ms
// of simulated time; then the figures of what that left:
//   resident memory (now and peak), the store's own memory, disk bytes and
//   records written; a filter scan over the whole store (the view's default
//   filter: calls hidden) with the time to its first screen of rows and to
//   its end; reopening the store as the next start would.
//
//   session_bench SECONDS [RATE] [--no-store]   (RATE default 960)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "session/BusSession.h"
#include "session/SessionStore.h"
#include "sim/SimTraffic.h"
#include "traffic/TrafficFilter.h"

namespace {

long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
  return -1;
}

double Ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: session_bench SECONDS [RATE] [--no-store]\n");
    return 2;
  }
  const long seconds = std::strtol(argv[1], nullptr, 10);
  const long rate = argc > 2 && argv[2][0] != '-' ? std::strtol(argv[2], nullptr, 10) : 960;
  const bool useStore = !(argc > 2 && std::strcmp(argv[argc - 1], "--no-store") == 0);
  char tmpl[] = "/tmp/session-bench-XXXXXX";
  const std::string root = ::mkdtemp(tmpl);

  constexpr int64_t kT0 = 1796738585000000;
  TBusSession session;
  if (useStore) {
    auto store = std::make_unique<TSessionStore>();
    if (!store->Create(root, kT0)) {
      std::fprintf(stderr, "session_bench: %s\n", store->ErrorText().c_str());
      return 1;
    }
    session.AttachStore(std::move(store));
  }
  session.BeginSession(kT0);
  TSimTraffic traffic(1);
  const std::size_t perRead = static_cast<std::size_t>(rate / 100);
  auto start = std::chrono::steady_clock::now();
  uint64_t bytes = 0;
  for (long read = 0; read < seconds * 100; ++read) {
    const int64_t t = kT0 + read * 10000;
    for (std::size_t got = 0; got < perRead;) {
      const ByteString item = traffic.NextItem();
      session.Take(t, item);
      got += item.size();
      bytes += item.size();
    }
    session.FlushIfDue(t);
  }
  if (session.Store()) session.Store()->Flush();
  const double feedMs = Ms(start);
  const TTrafficSource& history = session.History();
  std::printf("%ld s at %ld B/s: %llu items, %llu bus bytes, fed in %.0f ms\n", seconds, rate,
              static_cast<unsigned long long>(history.End()),
              static_cast<unsigned long long>(bytes), feedMs);
  std::printf("resident %ld MB, peak %ld MB; ring %zu MB, series %zu MB\n",
              StatusKb("VmRSS:") / 1024, StatusKb("VmHWM:") / 1024,
              session.Traffic().MemoryBytes() >> 20, session.Series().MemoryBytes() >> 20);
  if (!session.Store()) return 0;
  const TSessionStore& store = *session.Store();
  std::printf("store: %.1f MB on disk, %.2f MB in memory, history %llu..%llu\n",
              store.DiskBytes() / 1e6, store.MemoryBytes() / 1e6,
              static_cast<unsigned long long>(store.First()),
              static_cast<unsigned long long>(store.End()));

  // The traffic view's default filter over the whole store.
  TTrafficFilter filter;
  TTrafficMatcher matcher("", 16);
  TTrafficIndex rows;
  rows.Reset(store.First());
  start = std::chrono::steady_clock::now();
  uint64_t end = store.First();
  double firstMs = -1;
  while (end < store.End()) {
    end = std::min<uint64_t>(end + 65536, store.End());
    rows.Scan(store, end, filter, matcher);
    if (firstMs < 0 && rows.Rows() >= 50) firstMs = Ms(start);
  }
  std::printf("filter (calls hidden): first 50 rows in %.1f ms, all %zu rows in %.0f ms\n", firstMs,
              rows.Rows(), Ms(start));
  TTrafficMatcher text("Loko", 16);
  TTrafficFilter byText;
  byText.Text = "Loko";
  TTrafficIndex found;
  found.Reset(store.First());
  start = std::chrono::steady_clock::now();
  found.Scan(store, store.End(), byText, text);
  std::printf("filter \"Loko\": %zu rows in %.0f ms\n", found.Rows(), Ms(start));
  std::printf("resident after the scans %ld MB, peak %ld MB\n", StatusKb("VmRSS:") / 1024,
              StatusKb("VmHWM:") / 1024);

  start = std::chrono::steady_clock::now();
  TSessionStore again;
  const bool reopened = again.OpenExisting(store.Folder(), true);
  std::printf("reopened: %s, %llu items in %.0f ms\n", reopened ? "yes" : "no",
              static_cast<unsigned long long>(again.End()), Ms(start));
  again.Close();
  session.Store()->Close();
  std::filesystem::remove_all(root);
  return 0;
}
