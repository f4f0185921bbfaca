// What the graph draws, without drawing: the time axis and the scales.
#include "series/SeriesView.h"

#include <cmath>
#include <ctime>
#include <iterator>

#include "base/LocalTime.h"

namespace {

struct TValue {
  bool Valid = false;
  float Lo = 0, Hi = 0, Last = 0, BandLo = 0, BandHi = 0;
};

TValue Flat(float v) { return {true, v, v, v, v, v}; }

TValue Rate(uint32_t total, uint16_t tenthMin, uint16_t tenthMax) {
  TValue r = Flat(static_cast<float>(total));
  r.BandLo = 10.0f * tenthMin;
  r.BandHi = 10.0f * tenthMax;
  return r;
}

TValue ValueAt(const TSeriesStore& store, int64_t s, TSeries series, int device) {
  const TSecondPoint& p = store.At(s);
  if (!p.HasData()) return {};
  switch (series) {
    case TSeries::srIa:
      if (!p.HasStatus()) return {};
      return {true,           p.IaMin / 10.0f, p.IaMax / 10.0f, p.IaLast / 10.0f, p.IaMin / 10.0f,
              p.IaMax / 10.0f};
    case TSeries::srIm:
      return p.HasStatus() ? Flat(p.Im) : TValue{};
    case TSeries::srLoad: {
      if (!p.HasStatus() || p.Im == 0) return {};
      const float k = 10.0f / static_cast<float>(p.Im);  // tenths of an A to % of Im
      return {true, k * p.IaMin, k * p.IaMax, k * p.IaLast, k * p.IaMin, k * p.IaMax};
    }
    case TSeries::srBytes:
      return Rate(p.Bytes, p.BytesMin, p.BytesMax);
    case TSeries::srItems:
      return Rate(p.Items, p.ItemsMin, p.ItemsMax);
    case TSeries::srBadBytes:
      return Rate(p.BadBytes, p.BadMin, p.BadMax);
    case TSeries::srDevice:
      return Flat(store.DeviceMessages(device, s));
  }
  return {};
}

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

int64_t TTimeAxis::TimeAt(double x) const noexcept {
  return StartUs +
         static_cast<int64_t>(std::llround((x - Left) * static_cast<double>(SpanUs()) / Width));
}

std::vector<std::vector<TBucket>> SeriesRuns(const TSeriesStore& store, const TTimeAxis& axis,
                                             TSeries series, int device) {
  std::vector<std::vector<TBucket>> runs;
  if (store.Empty()) return runs;
  const int64_t s0 = std::max(store.FirstSecond(), FloorDiv(axis.StartUs, kUsPerSecond));
  const int64_t s1 =
      std::min(store.EndSecond(), FloorDiv(axis.EndUs + kUsPerSecond - 1, kUsPerSecond));
  const bool wide = axis.Width * kUsPerSecond >= static_cast<double>(axis.SpanUs());
  TBucket* cur = nullptr;
  int64_t curColumn = 0;
  for (int64_t s = s0; s < s1; ++s) {
    const TValue v = ValueAt(store, s, series, device);
    if (!v.Valid) {
      cur = nullptr;
      continue;
    }
    const double x0 = axis.XAt(s * kUsPerSecond), x1 = axis.XAt((s + 1) * kUsPerSecond);
    const int64_t column = wide ? s : static_cast<int64_t>(std::floor(x0));
    if (cur && column == curColumn) {
      cur->X1 = x1;
      cur->Lo = std::min(cur->Lo, v.Lo);
      cur->Hi = std::max(cur->Hi, v.Hi);
      cur->Last = v.Last;
      cur->BandLo = std::min(cur->BandLo, v.BandLo);
      cur->BandHi = std::max(cur->BandHi, v.BandHi);
      continue;
    }
    if (!cur) runs.emplace_back();
    runs.back().push_back({x0, x1, v.Lo, v.Hi, v.Last, v.BandLo, v.BandHi});
    cur = &runs.back().back();
    curColumn = column;
  }
  return runs;
}

std::vector<int64_t> TimeTicks(const TTimeAxis& axis, double minSpacing, int64_t& stepUs) {
  static constexpr int64_t kSteps[] = {1,     2,     5,     10,    15,     30,    60,
                                       120,   300,   600,   900,   1800,   3600,  7200,
                                       10800, 21600, 43200, 86400, 172800, 604800};
  const double pxPerSecond = axis.Width * kUsPerSecond / static_cast<double>(axis.SpanUs());
  int64_t step = kSteps[std::size(kSteps) - 1];
  for (int64_t s : kSteps)
    if (static_cast<double>(s) * pxPerSecond >= minSpacing) {
      step = s;
      break;
    }
  stepUs = step * kUsPerSecond;
  // Round local times: a tick where the local clock shows a multiple of the step.
  const int64_t start = FloorDiv(axis.StartUs, kUsPerSecond);
  const int64_t offset = LocalOffsetSeconds(static_cast<std::time_t>(start));
  int64_t t = (FloorDiv(start + offset, step) + 1) * step - offset;
  if ((t - step) * kUsPerSecond >= axis.StartUs) t -= step;
  std::vector<int64_t> ticks;
  for (; t * kUsPerSecond < axis.EndUs && ticks.size() < 1000; t += step)
    ticks.push_back(t * kUsPerSecond);
  return ticks;
}

double NiceCeiling(double v) noexcept {
  if (!(v > 0)) return 1;
  const double p = std::pow(10.0, std::floor(std::log10(v)));
  const double m = v / p;
  const double nice = m <= 1.0 + 1e-9 ? 1 : m <= 2.0 + 1e-9 ? 2 : m <= 5.0 + 1e-9 ? 5 : 10;
  return nice * p;
}
