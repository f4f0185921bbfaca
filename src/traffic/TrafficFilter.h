// Which items of the traffic history are shown, and the rows that result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "traffic/TrafficSource.h"
#include "traffic/TrafficText.h"

constexpr uint32_t KindBit(TItemKind kind) { return 1u << static_cast<unsigned>(kind); }

struct TTrafficFilter {
  static constexpr uint32_t kAllKinds = ((1u << kKindSlots) - 1) & ~1u;  // not ikNone
  // Call bytes and the idle byte make up most of a healthy line's items and
  // say little: hidden unless asked for.
  static constexpr uint32_t kDefaultKinds =
      kAllKinds & ~(KindBit(TItemKind::ikCallByte) | KindBit(TItemKind::ikIdle));

  uint32_t Kinds = kDefaultKinds;  // one bit per TItemKind shown
  uint32_t Devices = 0;            // bit n: items of device n (1-31); 0: every item
  std::string Text;                // shown when the line contains it; empty: all

  bool operator==(const TTrafficFilter&) const = default;
};

// Tests items for a text in their hex or comment, without regard to the case
// of ASCII letters.  Remembers the answer for short items, which repeat a lot
// on a bus (the same call bytes, the same speed), so that testing a million
// of them costs a look-up each rather than formatting each.
class TTrafficMatcher {
public:
  TTrafficMatcher(std::string_view text, int maxLoko);
  bool Empty() const noexcept { return FNeedle.empty(); }
  bool Matches(std::string_view bytes);
  const std::string& Needle() const noexcept { return FNeedle; }
  int MaxLoko() const noexcept { return FMaxLoko; }

private:
  static constexpr std::size_t kMemoLimit = std::size_t{1} << 16;
  bool Test(std::string_view bytes) const;

  std::string FNeedle;  // folded to lower case
  int FMaxLoko;
  std::unordered_map<uint64_t, bool> FMemo;  // items of up to 7 bytes: length and bytes
};

// Text folded for TTrafficMatcher: ASCII letters to lower case.
std::string FoldText(std::string_view text);

// The rows shown: sequence numbers of the items that passed the filter, in
// order.  Grows at the end as items are scanned and loses rows at the front
// as their items drop out of the ring.  A filter that passes every item
// (every kind, every device, no text) keeps no list: the rows are then the
// items themselves, so that showing all of an opened capture's tens of
// millions costs neither time nor memory.
class TTrafficIndex {
public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  std::size_t Rows() const noexcept {
    return FAll ? static_cast<std::size_t>(FScannedTo - FAllFrom) : FSeqs.size() - FHead;
  }
  uint64_t SeqAt(std::size_t row) const noexcept {
    return FAll ? FAllFrom + row : FSeqs[FHead + row];
  }
  // Items numbered below this have been tested.
  uint64_t ScannedTo() const noexcept { return FScannedTo; }

  // No rows; scanning starts at item from.
  void Reset(uint64_t from);
  // Tests the items from ScannedTo() (or the oldest held) up to end and adds
  // those that pass; returns the number of rows added.
  std::size_t Scan(const TTrafficSource& ring, uint64_t end, const TTrafficFilter& filter,
                   TTrafficMatcher& matcher);
  // Removes the rows of items numbered below first; returns how many.
  std::size_t DropBefore(uint64_t first);
  // The first row whose item is numbered seq or later (Rows() when none).
  std::size_t LowerBound(uint64_t seq) const;

  std::size_t MemoryBytes() const noexcept { return FSeqs.capacity() * sizeof(uint64_t); }

private:
  static constexpr std::size_t kScanBlock = 1024;
  std::vector<uint64_t> FSeqs;
  std::size_t FHead = 0;  // rows before it have dropped out
  uint64_t FScannedTo = 0;
  bool FAll = false;  // every item from FAllFrom to FScannedTo is a row
  uint64_t FAllFrom = 0;
};

// Whether the filter shows every item there can be.
bool PassesEverything(const TTrafficFilter& filter, const TTrafficMatcher& matcher);

bool PassesFilter(const TTrafficSource& ring, uint64_t seq, const TTrafficFilter& filter,
                  TTrafficMatcher& matcher);

// A find that can stop and go on: the rows are tested from the one after
// the start row round the end back to it, some at a time, so that a window
// answers between steps.  Where it got is kept as an item number, so rows
// added at the end or gone at the front between steps do no harm.
class TTrafficFind {
public:
  enum TState { fsSearching, fsFound, fsNotFound };

  explicit TTrafficFind(TTrafficMatcher matcher) : FMatcher(std::move(matcher)) {}
  // Searches the first rows of index (its rows beyond are not shown yet)
  // after from (npos: from the first, or backwards the last).
  void Start(const TTrafficIndex& index, std::size_t rows, std::size_t from, bool forward);
  // Tests budget rows at most; fsSearching when there are more to test.
  TState Step(const TTrafficSource& ring, const TTrafficIndex& index, std::size_t rows,
              std::size_t budget);
  TState State() const noexcept { return FState; }
  // The row found (fsFound): valid until the rows change.
  std::size_t FoundRow() const noexcept { return FFound; }
  // The search went round the end (back to the start row, if need be).
  bool Wrapped() const noexcept { return FWrapped; }
  bool Forward() const noexcept { return FForward; }
  TTrafficMatcher& Matcher() noexcept { return FMatcher; }

private:
  static constexpr uint64_t kNone = ~uint64_t{0};
  static constexpr std::size_t kBlock = 1024;
  TTrafficMatcher FMatcher;
  TState FState = fsNotFound;
  bool FForward = true;
  bool FWrapped = false;
  uint64_t FStart = kNone;  // the start row's item
  // Forwards: rows from this item on are left; backwards: rows before it.
  uint64_t FNext = 0;
  std::size_t FFound = TTrafficIndex::npos;
};

// The next row from `from` (exclusive) forwards or backwards whose item
// contains the matcher's text, going round the end; npos when none does.
// from may be npos: the search then starts at the first (or last) row.
std::size_t FindRow(const TTrafficSource& ring, const TTrafficIndex& index, std::size_t from,
                    bool forward, TTrafficMatcher& matcher);
