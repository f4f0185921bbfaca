// TReplayClock: when each read (or item) of a recording plays back, as an
// offset from the first one.  The recorded clock may step back (set by hand)
// or jump far ahead (a board starting at 1970, set by the network later, or a
// long reconnect); neither should hold a replay up, so a step back counts as
// no time and so does a step forward beyond the largest pause.  vantrel-sim
// and the window's playback share it, so a capture plays the same in both.
#pragma once

#include <cstdint>
#include <limits>

class TReplayClock {
public:
  static constexpr int64_t kDefaultMaxStepUs = 10'000'000;

  explicit TReplayClock(int64_t maxStepUs = kDefaultMaxStepUs) : FMaxStepUs(maxStepUs) {}

  // The offset (µs) of something recorded at timeUs, the times given in
  // recorded order.
  int64_t Offset(int64_t timeUs) {
    if (FLastUs != kNone && timeUs > FLastUs && timeUs - FLastUs <= FMaxStepUs)
      FOffsetUs += timeUs - FLastUs;
    FLastUs = timeUs;
    return FOffsetUs;
  }
  // The next time given starts a new stretch: the offsets go on from here
  // (a replay played round again).
  void Restart() { FLastUs = kNone; }
  // From offset 0 again.
  void Reset() {
    FLastUs = kNone;
    FOffsetUs = 0;
  }
  int64_t MaxStepUs() const { return FMaxStepUs; }

private:
  static constexpr int64_t kNone = std::numeric_limits<int64_t>::min();
  int64_t FMaxStepUs;
  int64_t FLastUs = kNone;
  int64_t FOffsetUs = 0;
};
