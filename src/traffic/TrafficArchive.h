// TTrafficArchive: every item of an opened capture, kept in little memory so
// that hours of a busy line fit (an hour at 11,520 bytes/s is some 31 million
// items, most of them one-byte calls; the live ring's 24 bytes an item would
// take 750 MB for it).
//
// Per item it keeps where its bytes start (4 bytes), its kind and the device
// called before it (1 byte) and the bytes themselves, one item after the
// other.  Times are kept as runs: the items cut from one read share its time,
// so a run is stored only where the time changes.  Items are numbered from 0;
// nothing is ever dropped.  Filled on one thread, then read on another (the
// window takes it over once it is complete).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "traffic/TrafficSource.h"

class TTrafficArchive final : public TTrafficSource {
public:
  // Memory an archive may take: Append refuses items beyond it (the window
  // then says that only the beginning of the capture was read).  At most
  // 4 GiB, so that an item's start always fits its 4 bytes.
  static constexpr uint64_t kDefaultMemoryLimit = uint64_t{1} << 30;
  static constexpr uint64_t kMaxMemoryLimit = (uint64_t{1} << 32) - 1;
  // What a block of items takes besides their bytes.
  static constexpr uint64_t kBlockBytes = (uint64_t{1} << 16) * (sizeof(uint32_t) + 1);

  explicit TTrafficArchive(uint64_t memoryLimit = kDefaultMemoryLimit);
  ~TTrafficArchive() override;
  TTrafficArchive(const TTrafficArchive&) = delete;
  TTrafficArchive& operator=(const TTrafficArchive&) = delete;

  // Items appended from now on belong to a connection that began at startUs.
  // False, and nothing recorded, once the memory limit would be passed (a
  // capture of nothing but reconnects must not grow without bound).
  bool BeginSession(int64_t startUs);
  // Records one item received at timeUs (times should not go back; a time
  // that does is kept as it is).  Empty items are ignored.  False, and
  // nothing recorded, once the memory limit would be passed.  The second
  // form takes the item's ClassifyItem of the caller.
  bool Append(int64_t timeUs, std::string_view bytes) {
    return Append(ClassifyItem(bytes), timeUs, bytes);
  }
  bool Append(const TBusItem& kind, int64_t timeUs, std::string_view bytes);
  // Returns the spare room of the last block; call when nothing more comes.
  void Finish();

  uint64_t First() const noexcept override { return 0; }
  uint64_t End() const noexcept override { return FEnd; }
  int64_t TimeUs(uint64_t seq) const noexcept override;
  TItemKind Kind(uint64_t seq) const noexcept override;
  int Device(uint64_t seq) const noexcept override;
  std::string_view Bytes(uint64_t seq) const noexcept override;
  int64_t SessionStart(uint64_t seq) const noexcept override;
  void Items(uint64_t seq, std::size_t count, TItemView* out) const noexcept override;

  uint64_t Dropped() const noexcept override { return 0; }
  uint64_t TotalItems() const noexcept override { return FEnd; }
  uint64_t TotalBytes() const noexcept override { return FTotalBytes; }
  uint64_t UnrecognisedBytes() const noexcept override { return FUnrecognisedBytes; }
  int CurrentDevice() const noexcept { return FCurrentDevice; }

  std::size_t MemoryBytes() const noexcept;
  // Memory the owner keeps beside the archive for it (the rows of a view,
  // the graph's series): the limit counts it too.
  void SetOtherMemory(uint64_t bytes) noexcept { FOtherMemory = bytes; }

private:
  static constexpr int kBlockShift = 16;
  static constexpr std::size_t kBlockSize = std::size_t{1} << kBlockShift;
  static constexpr std::size_t kBlockMask = kBlockSize - 1;

  struct TBlock {
    std::unique_ptr<uint32_t[]> Starts;  // where each item's bytes begin in Bytes
    std::unique_ptr<uint8_t[]> Meta;     // kind - 1 in bits 0-2, device in bits 3-7
    std::string Bytes;
  };
  struct TMark {
    uint64_t FirstSeq;
    int64_t TimeUs;
  };
  // Marks in pieces of a fixed size: growing never copies them, so memory
  // stays what the limit counts (a vector's doubling would hold twice that).
  class TMarks {
  public:
    bool Empty() const noexcept { return FCount == 0; }
    TMark& Back() noexcept { return At(FCount - 1); }
    void PushBack(const TMark& mark);
    // The mark in force for seq: the last one whose FirstSeq is not after it.
    const TMark* For(uint64_t seq) const noexcept;
    // The times in force for the items [seq, seq + count) (0 before any
    // mark): one search, then a walk.
    void Times(uint64_t seq, std::size_t count, TItemView* out) const noexcept;
    std::size_t MemoryBytes() const noexcept;

  private:
    static constexpr std::size_t kPieceShift = 12;
    static constexpr std::size_t kPieceSize = std::size_t{1} << kPieceShift;
    TMark& At(std::size_t i) const noexcept {
      return FPieces[i >> kPieceShift][i & (kPieceSize - 1)];
    }
    std::vector<std::unique_ptr<TMark[]>> FPieces;
    std::size_t FCount = 0;
  };
  uint64_t NextBlockReserve() const noexcept;
  void ShrinkLastBlock();
  bool Fits(uint64_t more) const noexcept { return FMemory + FOtherMemory + more <= FMemoryLimit; }

  std::vector<TBlock> FBlocks;
  TMarks FTimes;     // runs of one time
  TMarks FSessions;  // connections: first item and start
  uint64_t FEnd = 0;
  uint64_t FMemoryLimit;
  uint64_t FMemory = 0;       // blocks, bytes as held and marks: what the limit counts
  uint64_t FOtherMemory = 0;  // the owner's, for the archive
  uint64_t FTotalBytes = 0;
  uint64_t FUnrecognisedBytes = 0;
  int FCurrentDevice = 0;
};
