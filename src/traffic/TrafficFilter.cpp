// The traffic filter and the rows it leaves.
#include "traffic/TrafficFilter.h"

#include <algorithm>
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
    // stays a tight loop over the ring.
    const bool plain = matcher.Empty();
    for (uint64_t seq = from; seq < end; ++seq) {
      if (!(filter.Kinds & KindBit(ring.Kind(seq)))) continue;
      if (filter.Devices && !(filter.Devices & (1u << ring.Device(seq)))) continue;
      if (!plain && !matcher.Matches(ring.Bytes(seq))) continue;
      FSeqs.push_back(seq);
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

std::size_t FindRow(const TTrafficSource& ring, const TTrafficIndex& index, std::size_t from,
                    bool forward, TTrafficMatcher& matcher) {
  const std::size_t rows = index.Rows();
  if (rows == 0 || matcher.Empty()) return TTrafficIndex::npos;
  std::size_t row;
  if (from == TTrafficIndex::npos || from >= rows)
    row = forward ? 0 : rows - 1;
  else
    row = forward ? (from + 1) % rows : (from + rows - 1) % rows;
  for (std::size_t n = 0; n < rows; ++n) {
    const uint64_t seq = index.SeqAt(row);
    if (ring.Holds(seq) && matcher.Matches(ring.Bytes(seq))) return row;
    row = forward ? (row + 1 == rows ? 0 : row + 1) : (row == 0 ? rows - 1 : row - 1);
  }
  return TTrafficIndex::npos;
}
