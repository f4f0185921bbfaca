// TItemClock: the time of each item cut from a read.  A read holds what came
// since the one before it (at the default pause up to tens of milliseconds of
// traffic); its time is that of its last byte.  An item's time is its own
// last byte's estimated arrival: the read's time less the bytes after it at
// the line's byte time, never earlier than the item before it nor the read
// before, so times never go backwards.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Microseconds one character takes on the line: a start bit, the data bits,
// a parity bit unless parity is "N", and the stop bits (stopBit 0: one,
// 1: one and a half, 2: two).  0 for a baud rate of 0 or less.
inline double LineByteTimeUs(int baud, int bits, const std::string& parity, int stopBit) {
  if (baud <= 0) return 0;
  const double stop = stopBit == 1 ? 1.5 : stopBit == 2 ? 2 : 1;
  const double frame = 1 + bits + (parity.empty() || parity == "N" ? 0 : 1) + stop;
  return frame * 1e6 / baud;
}

// A capture log's "line" value ("115200 8N1", "9600 7E1.5 rtscts") as the
// byte time of that line; false when it is not one.
inline bool CaptureLineByteTimeUs(const std::string& text, double& byteUs) {
  int baud = 0, bits = 0, used = 0;
  char parity = 0;
  if (std::sscanf(text.c_str(), "%d %1d%c%n", &baud, &bits, &parity, &used) != 3 || baud <= 0)
    return false;
  const std::size_t end = text.find(' ', static_cast<std::size_t>(used));
  const std::string stop = text.substr(static_cast<std::size_t>(used),
                                       end == std::string::npos ? std::string::npos : end - used);
  byteUs = LineByteTimeUs(baud, bits, std::string(1, parity),
                          stop == "1.5" ? 1
                          : stop == "2" ? 2
                                        : 0);
  return true;
}

class TItemClock {
public:
  explicit TItemClock(double byteTimeUs = 0) : FByteTimeUs(std::max(0.0, byteTimeUs)) {}

  // A read that brought bytes, at timeUs.
  void Read(int64_t timeUs) {
    FFloorUs = std::max(FFloorUs, FReadUs);
    FReadUs = timeUs;
  }
  // The time of the next item, of whose bytes the last is followed by
  // bytesAfter bytes of the reads so far.
  int64_t ItemTime(std::size_t bytesAfter) {
    const int64_t back = std::llround(static_cast<double>(bytesAfter) * FByteTimeUs);
    FFloorUs = std::max(FFloorUs, FReadUs - back);
    return FFloorUs;
  }

private:
  double FByteTimeUs;
  int64_t FReadUs = 0;   // the last read's time
  int64_t FFloorUs = 0;  // no item is earlier: the item before, the read before
};
