// The series fed items at any times (jumps by years, a clock set back, the
// same second over and over): no crash, memory within the bound of the
// seconds it keeps whatever the jumps, and the seconds held in order.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "series/SeriesStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr int64_t kCapacity = 3600;
  TSeriesStore store(kCapacity);
  // Each record: a signed step of the clock in µs (4 bytes, scaled by the
  // fifth byte's low bits up to a factor of 2^24) and one item byte.
  int64_t t = int64_t{1796738585} * kUsPerSecond;
  const std::string items[] = {std::string(1, '\x41'), std::string("\x00\x80\x80", 3),
                               std::string("\x00\x81\x81", 3), std::string(1, '\xC5')};
  for (size_t i = 0; i + 6 <= size; i += 6) {
    int32_t step;
    std::memcpy(&step, data + i, 4);
    const int shift = data[i + 4] % 25;
    const int64_t delta = static_cast<int64_t>(step) * (int64_t{1} << shift);
    // Times stay within what a capture log can hold (twelve digits of seconds).
    if (t + delta > 0 && t + delta < int64_t{999999999999} * kUsPerSecond) t += delta;
    switch (data[i + 5] % 8) {
      case 6:
        store.MarkLoss(t);
        break;
      case 7:
        store.Finish();
        break;
      default:
        store.Add(items[data[i + 5] % 4], t);
    }
    if (store.Empty()) continue;
    if (store.FirstSecond() > store.EndSecond()) std::abort();
    // Each block spans 1024 s: the seconds kept, the open one and one block
    // either side, whatever the clock did; and the power changes kept.
    constexpr std::size_t kBound = (kCapacity / 1024 + 4) * (32 * 1024 + 32 * 2048 + 512) +
                                   (TSeriesStore::kMaxPowerChanges / 32 + 2) * 520 + 4096;
    if (store.MemoryBytes() > kBound) std::abort();
  }
  if (!store.Empty()) {
    for (int64_t s = store.FirstSecond(); s < store.EndSecond() && s < store.FirstSecond() + 5000;
         ++s)
      (void)store.At(s).HasData();
    const auto bands = store.PowerIntervals(0, INT64_MAX);
    for (std::size_t k = 1; k < bands.size(); ++k)
      if (bands[k].StartUs < bands[k - 1].EndUs) std::abort();
  }
  return 0;
}
