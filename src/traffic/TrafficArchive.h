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
  void BeginSession(int64_t startUs);
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

  uint64_t Dropped() const noexcept override { return 0; }
  uint64_t TotalItems() const noexcept override { return FEnd; }
  uint64_t TotalBytes() const noexcept override { return FTotalBytes; }
  uint64_t UnrecognisedBytes() const noexcept override { return FUnrecognisedBytes; }
  int CurrentDevice() const noexcept { return FCurrentDevice; }

  std::size_t MemoryBytes() const noexcept;

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
  // The mark in force for seq: the last one whose FirstSeq is not after it.
  static const TMark* MarkFor(const std::vector<TMark>& marks, uint64_t seq) noexcept;

  std::vector<TBlock> FBlocks;
  std::vector<TMark> FTimes;     // runs of one time
  std::vector<TMark> FSessions;  // connections: first item and start
  uint64_t FEnd = 0;
  uint64_t FMemoryLimit;
  uint64_t FMemory = 0;  // blocks, bytes and time marks: what the limit counts
  uint64_t FTotalBytes = 0;
  uint64_t FUnrecognisedBytes = 0;
  int FCurrentDevice = 0;
};
