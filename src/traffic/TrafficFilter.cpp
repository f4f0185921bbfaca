// The traffic filter and the rows it leaves.
#include "traffic/TrafficFilter.h"

#include <algorithm>
#include <array>
#include <cstring>

std::string FoldText(std::string_view text) {
  std::string folded(text);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

TTrafficMatcher::TTrafficMatcher(std::string_view text, int maxLoko)
    : FNeedle(FoldText(text)), FMaxLoko(maxLoko) {}

bool TTrafficMatcher::Test(std::string_view bytes) const {
  std::string line = TrafficItemLine(bytes, FMaxLoko);
  for (char& c : line)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return line.find(FNeedle) != std::string::npos;
}

bool TTrafficMatcher::Matches(std::string_view bytes) {
  if (FNeedle.empty()) return true;
  if (bytes.size() > 7) return Test(bytes);
  uint64_t key = bytes.size();
  for (std::size_t i = 0; i < bytes.size(); ++i)
    key |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[i])) << (8 * (i + 1));
  auto it = FMemo.find(key);
  if (it != FMemo.end()) return it->second;
  const bool hit = Test(bytes);
  // The items that repeat show up early; past this size the table would
  // only grow (and cost) on a line of ever new items.
  if (FMemo.size() < kMemoLimit) FMemo.emplace(key, hit);
  return hit;
}

bool PassesFilter(const TTrafficSource& ring, uint64_t seq, const TTrafficFilter& filter,
                  TTrafficMatcher& matcher) {
  if (!(filter.Kinds & KindBit(ring.Kind(seq)))) return false;
  if (filter.Devices && !(filter.Devices & (1u << ring.Device(seq)))) return false;
  return matcher.Empty() || matcher.Matches(ring.Bytes(seq));
}

bool PassesEverything(const TTrafficFilter& filter, const TTrafficMatcher& matcher) {
  return (filter.Kinds & TTrafficFilter::kAllKinds) == TTrafficFilter::kAllKinds &&
         filter.Devices == 0 && matcher.Empty();
}

void TTrafficIndex::Reset(uint64_t from) {
  FSeqs.clear();
  FHead = 0;
  FScannedTo = from;
  FAll = false;
  FAllFrom = from;
}

std::size_t TTrafficIndex::Scan(const TTrafficSource& ring, uint64_t end,
                                const TTrafficFilter& filter, TTrafficMatcher& matcher) {
  const uint64_t from = std::max(FScannedTo, ring.First());
  end = std::min(end, ring.End());
  const std::size_t before = Rows();
  const bool everything = PassesEverything(filter, matcher);
  if (Rows() == 0) {
    // Without rows the list can start afresh, or not be kept at all: the
    // rows are then the items from here on.
    FAll = everything;
    FSeqs.clear();
    FHead = 0;
    FAllFrom = from;
  } else if (FAll && (!everything || from > FScannedTo)) {
    // Another filter, or items missed: the rows so far become a list.
    FAll = false;
    for (uint64_t seq = FAllFrom; seq < FScannedTo; ++seq) FSeqs.push_back(seq);
  }
  if (FAll) {
    FScannedTo = std::max(FScannedTo, end);
    return Rows() - before;
  }
  if (from < end) {
    // Without a text only the item's header is looked at: the common case
    // stays a tight loop.  Items come a block at a time (a page of the
    // store at once rather than a look-up per item).
    const bool plain = matcher.Empty();
    std::array<TTrafficSource::TItemView, kScanBlock> items;
    for (uint64_t seq = from; seq < end;) {
      const auto n = static_cast<std::size_t>(std::min<uint64_t>(kScanBlock, end - seq));
      ring.Items(seq, n, items.data());
      for (std::size_t k = 0; k < n; ++k) {
        const TTrafficSource::TItemView& item = items[k];
        if (!(filter.Kinds & KindBit(item.Kind))) continue;
        if (filter.Devices && !(filter.Devices & (1u << item.Device))) continue;
        if (!plain && !matcher.Matches(item.Bytes)) continue;
        FSeqs.push_back(seq + k);
      }
      seq += n;
    }
  }
  FScannedTo = std::max(FScannedTo, end);
  return Rows() - before;
}

std::size_t TTrafficIndex::DropBefore(uint64_t first) {
  if (FAll) {
    const std::size_t removed =
        static_cast<std::size_t>(std::min(std::max(first, FAllFrom), FScannedTo) - FAllFrom);
    FAllFrom += removed;
    return removed;
  }
  const auto begin = FSeqs.begin() + static_cast<std::ptrdiff_t>(FHead);
  const auto it = std::lower_bound(begin, FSeqs.end(), first);
  const std::size_t removed = static_cast<std::size_t>(it - begin);
  FHead += removed;
  // Rows leave at the front all the time once the ring is full: give their
  // room back when it is half the vector, so that this stays O(1) amortised.
  if (FHead > 4096 && FHead * 2 > FSeqs.size()) {
    FSeqs.erase(FSeqs.begin(), FSeqs.begin() + static_cast<std::ptrdiff_t>(FHead));
    FHead = 0;
  }
  return removed;
}

std::size_t TTrafficIndex::LowerBound(uint64_t seq) const {
  if (FAll)
    return static_cast<std::size_t>(std::min(std::max(seq, FAllFrom), FScannedTo) - FAllFrom);
  const auto begin = FSeqs.begin() + static_cast<std::ptrdiff_t>(FHead);
  return static_cast<std::size_t>(std::lower_bound(begin, FSeqs.end(), seq) - begin);
}

void TTrafficFind::Start(const TTrafficIndex& index, std::size_t rows, std::size_t from,
                         bool forward) {
  rows = std::min(rows, index.Rows());
  FForward = forward;
  FWrapped = false;
  FState = rows == 0 || FMatcher.Empty() ? fsNotFound : fsSearching;
  FFound = TTrafficIndex::npos;
  // Without a row to start from every row is tested once, from the first
  // (or the last): there is nothing to go round to.
  FStart = from == TTrafficIndex::npos || from >= rows ? kNone : index.SeqAt(from);
  if (forward)
    FNext = FStart == kNone ? 0 : FStart + 1;
  else
    FNext = FStart == kNone ? kNone : FStart;
}

TTrafficFind::TState TTrafficFind::Step(const TTrafficSource& ring, const TTrafficIndex& index,
                                        std::size_t rows, std::size_t budget) {
  if (FState != fsSearching) return FState;
  rows = std::min(rows, index.Rows());
  std::array<TTrafficSource::TItemView, kBlock> items;
  // Tests rows [a, b), all of them held, in the search's direction; true
  // when one matches (FFound).
  auto testRows = [&](std::size_t a, std::size_t b) {
    const uint64_t first = index.SeqAt(a), last = index.SeqAt(b - 1);
    const std::size_t n = b - a;
    const bool run = last - first + 1 == n;  // consecutive items: a block of them at once
    if (run) ring.Items(first, n, items.data());
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t i = FForward ? k : n - 1 - k;
      const uint64_t seq = index.SeqAt(a + i);
      if (FMatcher.Matches(run ? items[i].Bytes : ring.Bytes(seq))) {
        FFound = a + i;
        return true;
      }
    }
    return false;
  };
  while (budget > 0) {
    if (FForward) {
      std::size_t row = std::min(index.LowerBound(std::max(FNext, ring.First())), rows);
      if (row >= rows) {
        if (FWrapped || FStart == kNone) return FState = fsNotFound;
        FWrapped = true;
        FNext = 0;
        continue;
      }
      std::size_t end = std::min(rows, row + std::min(budget, kBlock));
      // Once round the end, only rows up to the start are left.
      if (FWrapped) end = std::min(end, index.LowerBound(FStart + 1));
      if (row >= end) return FState = fsNotFound;
      if (testRows(row, end)) return FState = fsFound;
      FNext = index.SeqAt(end - 1) + 1;
      budget -= std::min(budget, end - row);
    } else {
      const std::size_t top = std::min(index.LowerBound(FNext), rows);  // rows below FNext
      std::size_t low = std::max(index.LowerBound(ring.First()), top - std::min(top, kBlock));
      low = std::max(low, top - std::min(top, budget));
      if (FWrapped) low = std::max(low, index.LowerBound(FStart));
      if (low >= top) {
        if (FWrapped || FStart == kNone) return FState = fsNotFound;
        FWrapped = true;
        FNext = kNone;
        continue;
      }
      if (testRows(low, top)) return FState = fsFound;
      FNext = index.SeqAt(low);
      budget -= std::min(budget, top - low);
    }
  }
  return FState;
}

std::size_t FindRow(const TTrafficSource& ring, const TTrafficIndex& index, std::size_t from,
                    bool forward, TTrafficMatcher& matcher) {
  TTrafficFind find(std::move(matcher));
  find.Start(index, index.Rows(), from, forward);
  const bool found =
      find.Step(ring, index, index.Rows(), TTrafficIndex::npos) == TTrafficFind::fsFound;
  matcher = std::move(find.Matcher());
  return found ? find.FoundRow() : TTrafficIndex::npos;
}
