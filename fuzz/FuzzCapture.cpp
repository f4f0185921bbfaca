// Reading any file as a capture: no crash, a raw capture's chunks join to
// the file, a log's items come in line order and its chunks are never empty.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "capture/CaptureReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("capture", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
    std::abort();
  TCaptureReader in;
  if (!in.Open("/proc/self/fd/" + std::to_string(fd))) return 0;
  TCaptureItem item;
  std::string joined;
  uint64_t line = 0;
  while (in.Next(item)) {
    if (!in.IsLog()) {
      joined += item.Bytes;
      continue;
    }
    if (item.Line < line) std::abort();
    line = item.Line;
    if (item.Kind == TCaptureKind::ckChunk &&
        (item.Bytes.empty() ||
         item.Bytes.size() > TCaptureReader::kMaxChunk + kCaptureMaxLineLength))
      std::abort();
  }
  if (!in.IsLog() && joined != std::string(reinterpret_cast<const char*>(data), size)) std::abort();
  return 0;
}
