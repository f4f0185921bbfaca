#include "traffic/TrafficExport.h"

#include "base/Text.h"
#include "base/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

bool TrafficLines(const TTrafficSource& ring, const TTrafficIndex* rows, TTimeMode mode,
                  int maxLoko, const std::function<bool(std::string_view)>& sink) {
  int64_t previous = 0;
  std::string line;
  auto one = [&](uint64_t seq) {
    const int64_t timeUs = ring.TimeUs(seq);
    line = TrafficTimePrefix(mode, timeUs, previous, ring.SessionStart(seq));
    line += TrafficItemLine(ring.Bytes(seq), maxLoko);
    previous = timeUs;
    return sink(line);
  };
  if (rows) {
    for (std::size_t r = 0; r < rows->Rows(); ++r) {
      const uint64_t seq = rows->SeqAt(r);
      if (ring.Holds(seq) && !one(seq)) return false;
    }
  } else {
    for (uint64_t seq = ring.First(); seq < ring.End(); ++seq)
      if (!one(seq)) return false;
  }
  return true;
}

bool ExportTraffic(const TTrafficSource& ring, const TTrafficIndex* rows, TTimeMode mode,
                   int maxLoko, const std::string& path, std::string& error, uint64_t* lineCount) {
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = SystemErrorText(errno);
    return false;
  }
  // mkstemp makes the file private; a saved text gets the usual mode.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);

  std::vector<char> buffer;
  buffer.reserve(1 << 16);
  int err = 0;
  uint64_t lines = 0;
  const bool done = TrafficLines(ring, rows, mode, maxLoko, [&](std::string_view line) {
    buffer.insert(buffer.end(), line.begin(), line.end());
    buffer.push_back('\n');
    ++lines;
    if (buffer.size() >= (1 << 16) - 512) {
      if (!WriteAll(fd, std::string_view(buffer.data(), buffer.size()))) {
        err = errno;
        return false;
      }
      buffer.clear();
    }
    return true;
  });
  if (done && !WriteAll(fd, std::string_view(buffer.data(), buffer.size()))) err = errno;
  if (err == 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    error = SystemErrorText(err);
    return false;
  }
  if (lineCount) *lineCount = lines;
  return true;
}
