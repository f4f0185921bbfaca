// make_capture: writes a capture log of the simulated central's traffic as
// the reader would have recorded it, without waiting for the time to pass:
// one read every 10 ms of RATE/100 bytes, for SECONDS.  For measuring
// `vantrel-dump --file` and the window on long recordings.
//
//   make_capture OUT SECONDS [RATE]        (RATE bytes/s, default 11520)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture/CaptureWriter.h"
#include "sim/SimTraffic.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: make_capture OUT SECONDS [RATE]\n");
    return 2;
  }
  const std::string path = argv[1];
  const long seconds = std::strtol(argv[2], nullptr, 10);
  const long rate = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 11520;
  if (seconds <= 0 || rate < 100) {
    std::fprintf(stderr, "make_capture: SECONDS above 0, RATE at least 100\n");
    return 2;
  }
  constexpr int64_t kT0 = 1796738585000000;  // 2026-12-08T14:03:05Z
  TCaptureWriter log;
  if (!log.Open(path) || !log.WriteHeader({"/dev/ttyUSB0", "115200 8N1", "make_capture", kT0})) {
    std::fprintf(stderr, "make_capture: %s: %s\n", path.c_str(), log.LastErrorText().c_str());
    return 1;
  }
  TSimTraffic traffic(1);
  std::string stream;
  const std::size_t perRead = static_cast<std::size_t>(rate / 100);
  for (long read = 0; read < seconds * 100; ++read) {
    while (stream.size() < perRead) stream += traffic.NextItem();
    if (!log.AddChunk(std::string_view(stream).substr(0, perRead), kT0 + read * 10000)) break;
    stream.erase(0, perRead);
  }
  if (!log.Close()) {
    std::fprintf(stderr, "make_capture: %s: %s\n", path.c_str(), log.LastErrorText().c_str());
    return 1;
  }
  std::printf("%s: %llu bus bytes in %ld reads, %llu bytes of file\n", path.c_str(),
              static_cast<unsigned long long>(log.BusBytes()), seconds * 100,
              static_cast<unsigned long long>(log.FileBytes()));
  return 0;
}
