// TTrafficRing: the traffic history, the last N items taken from the bus,
// each with its receive time, kind and the device called before it.
//
// Compact on purpose (a busy line gives some 6,000 items a second and the
// ring keeps a million by default): 24 bytes per item of up to 8 bytes,
// longer items in a side store that is freed as they drop out.  Items are
// numbered from 0 in the order they came (their sequence number); the ring
// holds the numbers [First(), End()) and everything before First() has been
// dropped.  Filled from any source (the live queue, a capture), one thread.
// As a TTrafficSource it is what the traffic view shows while live.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "traffic/TrafficSource.h"
#include "traffic/TrafficText.h"

struct TTrafficItem {
  int64_t TimeUs = 0;   // receive time, microseconds since the epoch
  uint32_t Length = 0;  // bytes in the item
  uint8_t Kind = 0;     // TItemKind
  uint8_t Device = 0;   // 1-31: the device called before it (a call byte: the one it calls); 0 none
  uint16_t Reserved = 0;
  union {
    uint8_t Bytes[8];    // Length <= 8: the bytes themselves
    uint64_t SideIndex;  // longer: number of the item in the side store
  };
  TTrafficItem() : SideIndex(0) {}
};
static_assert(sizeof(TTrafficItem) == 24, "the ring's memory budget counts on 24 bytes an item");

class TTrafficRing final : public TTrafficSource {
public:
  static constexpr std::size_t kDefaultCapacity = 1000000;
  static constexpr std::size_t kMinCapacity = 1000;
  static constexpr std::size_t kMaxCapacity = 50000000;
  // Bytes of long items kept at most; beyond it the oldest items go as if
  // the ring were full (a flood of unrecognised data must not eat memory).
  static constexpr std::size_t kDefaultSideLimit = 64u << 20;
  static constexpr std::size_t kInlineBytes = 8;

  explicit TTrafficRing(std::size_t capacity = kDefaultCapacity);
  ~TTrafficRing() override;
  TTrafficRing(const TTrafficRing&) = delete;
  TTrafficRing& operator=(const TTrafficRing&) = delete;

  std::size_t Capacity() const noexcept { return FCapacity; }
  // Clamped to [kMinCapacity, kMaxCapacity]; keeps the newest items that fit.
  void SetCapacity(std::size_t capacity);
  std::size_t SideLimit() const noexcept { return FSideLimit; }
  void SetSideLimit(std::size_t bytes);

  // Items appended from now on belong to a connection (or capture) that
  // began at startUs: their "since connecting" time counts from it.
  void BeginSession(int64_t startUs);

  // The line was down from fromUs to toUs before the next item appended (a
  // lost port that came back).  Marks with no item between them become one,
  // from the first loss to the last return.
  void MarkGap(int64_t fromUs, int64_t toUs);
  using TGap = TTrafficGap;
  const TGap* GapWithin(uint64_t fromSeq, uint64_t toSeq) const noexcept override;

  // Records one item (empty items are ignored; returns End()).  The kind and
  // the called device come from the bytes and the items before; the second
  // form takes the item's ClassifyItem of the caller.
  uint64_t Append(int64_t timeUs, std::string_view bytes) {
    return Append(ClassifyItem(bytes), timeUs, bytes);
  }
  uint64_t Append(const TBusItem& kind, int64_t timeUs, std::string_view bytes);

  // Forgets every item and the totals; numbering goes on (rows of an old
  // index then simply no longer exist).
  void Clear();

  uint64_t First() const noexcept override { return FFirst; }
  uint64_t End() const noexcept override { return FEnd; }

  // seq must be held.  Bytes() stays valid until the item drops out.
  const TTrafficItem& Item(uint64_t seq) const noexcept {
    const std::size_t pos = static_cast<std::size_t>(seq % FCapacity);
    return FBlocks[pos >> kBlockShift][pos & kBlockMask];
  }
  std::string_view Bytes(uint64_t seq) const noexcept override;
  TItemKind Kind(uint64_t seq) const noexcept override {
    return static_cast<TItemKind>(Item(seq).Kind);
  }
  int64_t TimeUs(uint64_t seq) const noexcept override { return Item(seq).TimeUs; }
  int Device(uint64_t seq) const noexcept override { return Item(seq).Device; }
  // Start of the session the item belongs to (0 when none was begun).
  int64_t SessionStart(uint64_t seq) const noexcept override;

  // Totals since the ring was made or cleared, dropped items included.
  uint64_t Dropped() const noexcept override { return FDropped; }
  uint64_t TotalItems() const noexcept override { return FTotalItems; }
  uint64_t TotalBytes() const noexcept override { return FTotalBytes; }
  // Bytes the framing could not place: lone bytes the window logs and
  // unrecognised runs.
  uint64_t UnrecognisedBytes() const noexcept override { return FUnrecognisedBytes; }
  // Address 1-31 of the last call byte, 0 before any.
  int CurrentDevice() const noexcept { return FCurrentDevice; }

  // Memory held by the ring, for the benchmark and the status bar.
  std::size_t MemoryBytes() const noexcept;

private:
  static constexpr int kBlockShift = 16;
  static constexpr std::size_t kBlockSize = std::size_t{1} << kBlockShift;
  static constexpr std::size_t kBlockMask = kBlockSize - 1;

  TTrafficItem& Slot(uint64_t seq) noexcept {
    const std::size_t pos = static_cast<std::size_t>(seq % FCapacity);
    return FBlocks[pos >> kBlockShift][pos & kBlockMask];
  }
  void DropOldest();
  void EnsureSlot(uint64_t seq);

  std::size_t FCapacity;
  std::size_t FSideLimit = kDefaultSideLimit;
  std::vector<std::unique_ptr<TTrafficItem[]>> FBlocks;  // allocated as the ring fills

  uint64_t FFirst = 0;
  uint64_t FEnd = 0;
  uint64_t FDropped = 0;
  uint64_t FTotalItems = 0;
  uint64_t FTotalBytes = 0;
  uint64_t FUnrecognisedBytes = 0;
  int FCurrentDevice = 0;

  // Items longer than kInlineBytes, oldest first; FSideFirst numbers the front.
  std::deque<std::string> FSide;
  uint64_t FSideFirst = 0;
  std::size_t FSideBytes = 0;

  // Where each session began: (first item, start time), oldest first.
  struct TSession {
    uint64_t FirstSeq;
    int64_t StartUs;
  };
  std::deque<TSession> FSessions;
  // Oldest first; a gap goes once the item after it has dropped out.
  std::deque<TGap> FGaps;
  void DropGaps();
};
