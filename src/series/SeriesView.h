// What the graph draws, without any drawing: the time axis (pixels to
// microseconds and back, tick marks), the series reduced to one bucket per
// pixel column (lowest, highest and last value, so that a long stretch keeps
// its peaks), and the nearest element to a moment.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "series/SeriesStore.h"

// The time shown across a plot: [StartUs, EndUs) over Width pixels from Left.
struct TTimeAxis {
  int64_t StartUs = 0;
  int64_t EndUs = kUsPerSecond;
  double Left = 0;
  double Width = 1;

  int64_t SpanUs() const noexcept { return EndUs > StartUs ? EndUs - StartUs : 1; }
  double XAt(int64_t us) const noexcept {
    return Left + static_cast<double>(us - StartUs) * Width / static_cast<double>(SpanUs());
  }
  // The moment under pixel position x (a click), rounded to a microsecond.
  int64_t TimeAt(double x) const noexcept;
};

enum class TSeries : uint8_t {
  srIa,        // present current, A
  srIm,        // maximum current, A
  srLoad,      // 100 x Ia / Im, %; not where Im is 0
  srBytes,     // bytes/s
  srItems,     // items/s
  srBadBytes,  // unrecognised bytes/s
  srDevice     // messages/s of one device
};

struct TBucket {
  double X0 = 0, X1 = 0;  // pixels covered
  float Lo = 0, Hi = 0;   // lowest and highest value of the seconds in it
  float Last = 0;         // the value at its end
  // Rates: the fewest and the most in a tenth of a second, as a rate per
  // second; other series: Lo and Hi.
  float BandLo = 0, BandHi = 0;
};

// The series over the complete seconds visible on the axis, in buckets: one
// a second while a second is at least a pixel wide, otherwise one a pixel
// column.  Buckets come in runs; between two runs the series has no value
// (no data, no status yet), which the graph draws as a gap.
std::vector<std::vector<TBucket>> SeriesRuns(const TSeriesStore& store, const TTimeAxis& axis,
                                             TSeries series, int device = 0);

// Tick marks on the axis, at least minSpacing pixels apart, on round local
// times (1 s ... 1 day); stepUs gets the step chosen.
std::vector<int64_t> TimeTicks(const TTimeAxis& axis, double minSpacing, int64_t& stepUs);

// The smallest 1, 2 or 5 times a power of ten that is at least v (v > 0);
// 1 for v <= 0.
double NiceCeiling(double v) noexcept;

// Of count elements with ascending times (timeAt(i)), the index of the one
// nearest to t, the earlier on a tie; count must be > 0.
template <class TTimeAt>
std::size_t NearestByTime(std::size_t count, int64_t t, TTimeAt timeAt) {
  std::size_t lo = 0, hi = count;  // first element not earlier than t
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (timeAt(mid) < t)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo == count) return count - 1;
  if (lo == 0) return 0;
  return t - timeAt(lo - 1) <= timeAt(lo) - t ? lo - 1 : lo;
}
