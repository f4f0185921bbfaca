// The user's marks on a traffic history; see the header.
#include "traffic/TrafficMarks.h"

#include <algorithm>

namespace {

template <class TItems>
auto LowerBySeq(TItems& items, uint64_t seq) {
  return std::lower_bound(items.begin(), items.end(), seq,
                          [](const TTrafficMark& m, uint64_t s) { return m.Seq < s; });
}

}  // namespace

std::size_t TTrafficMarks::Add(uint64_t seq, int64_t timeUs, std::string text) {
  auto at = LowerBySeq(FItems, seq);
  if (at != FItems.end() && at->Seq == seq) {
    at->Text = std::move(text);
  } else {
    at = FItems.insert(at, TTrafficMark{seq, timeUs, std::move(text)});
  }
  return static_cast<std::size_t>(at - FItems.begin());
}

void TTrafficMarks::Remove(std::size_t index) {
  if (index < FItems.size()) FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
}

std::size_t TTrafficMarks::Find(uint64_t seq) const noexcept {
  const auto at = LowerBySeq(FItems, seq);
  return at != FItems.end() && at->Seq == seq ? static_cast<std::size_t>(at - FItems.begin())
                                              : FItems.size();
}

const TTrafficMark* TTrafficMarks::After(const TTrafficSource& source,
                                         uint64_t seq) const noexcept {
  return seq == UINT64_MAX ? nullptr : AtOrAfter(source, seq + 1);
}

const TTrafficMark* TTrafficMarks::AtOrAfter(const TTrafficSource& source,
                                             uint64_t seq) const noexcept {
  for (auto i = LowerBySeq(FItems, seq); i != FItems.end(); ++i)
    if (source.Holds(i->Seq)) return &*i;
  return nullptr;
}

const TTrafficMark* TTrafficMarks::Before(const TTrafficSource& source,
                                          uint64_t seq) const noexcept {
  auto at = LowerBySeq(FItems, seq);
  while (at != FItems.begin()) {
    --at;
    if (source.Holds(at->Seq)) return &*at;
  }
  return nullptr;
}

uint64_t ItemAtOrAfter(const TTrafficSource& source, int64_t timeUs) noexcept {
  uint64_t lo = source.First(), hi = source.End();
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
    if (source.TimeUs(mid) < timeUs)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

uint64_t ItemNearest(const TTrafficSource& source, int64_t timeUs) noexcept {
  const uint64_t after = ItemAtOrAfter(source, timeUs);
  if (after == source.First()) return after;  // End() too when empty
  const uint64_t before = after - 1;
  if (after == source.End()) return before;
  return timeUs - source.TimeUs(before) <= source.TimeUs(after) - timeUs ? before : after;
}
