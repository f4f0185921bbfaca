// TTrafficMarks: the user's marks on items of a traffic history, each a
// short note, kept in item order.  A mark names its item by number and keeps
// the item's time, by which a capture log stores it and a reopened capture
// finds the item again.  Also the look-ups by time that go with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "traffic/TrafficSource.h"

struct TTrafficMark {
  uint64_t Seq = 0;
  int64_t TimeUs = 0;
  std::string Text;
};

class TTrafficMarks {
public:
  const std::vector<TTrafficMark>& Items() const noexcept { return FItems; }
  std::size_t Count() const noexcept { return FItems.size(); }
  bool Empty() const noexcept { return FItems.empty(); }

  // Marks item seq; an item marked already gets the new text.  The index
  // of its mark.
  std::size_t Add(uint64_t seq, int64_t timeUs, std::string text);
  void Remove(std::size_t index);
  void Clear() noexcept { FItems.clear(); }
  // The index of item seq's mark, or Count().
  std::size_t Find(uint64_t seq) const noexcept;

  // The nearest mark after (before) item seq whose item the source still
  // holds; null when there is none.
  const TTrafficMark* After(const TTrafficSource& source, uint64_t seq) const noexcept;
  const TTrafficMark* AtOrAfter(const TTrafficSource& source, uint64_t seq) const noexcept;
  const TTrafficMark* Before(const TTrafficSource& source, uint64_t seq) const noexcept;

private:
  std::vector<TTrafficMark> FItems;  // by Seq, one a seq
};

// The first item received at or after timeUs; End() when none.  Times are
// taken as never going back (a clock set back places a moment on the first
// stretch that reaches it).
uint64_t ItemAtOrAfter(const TTrafficSource& source, int64_t timeUs) noexcept;
// The item received nearest to timeUs, the earlier of two as near; End()
// when the source is empty.
uint64_t ItemNearest(const TTrafficSource& source, int64_t timeUs) noexcept;
