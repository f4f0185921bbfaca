// TTrafficArchive: every item of an opened capture in little memory.
#include "traffic/TrafficArchive.h"

#include <algorithm>

#include "traffic/TrafficText.h"

static_assert(kLastKind - kFirstKind < 8, "an item's kind must fit three bits");

static_assert(TTrafficArchive::kBlockBytes ==
              (std::size_t{1} << 16) * (sizeof(uint32_t) + sizeof(uint8_t)));

TTrafficArchive::TTrafficArchive(uint64_t memoryLimit)
    : FMemoryLimit(std::min(memoryLimit, kMaxMemoryLimit)) {}

TTrafficArchive::~TTrafficArchive() = default;

void TTrafficArchive::BeginSession(int64_t startUs) {
  if (!FSessions.empty() && FSessions.back().FirstSeq == FEnd)
    FSessions.back().TimeUs = startUs;  // nothing came in the one before
  else
    FSessions.push_back({FEnd, startUs});
}

bool TTrafficArchive::Append(const TBusItem& item, int64_t timeUs, std::string_view bytes) {
  if (bytes.empty()) return true;
  const std::size_t at = static_cast<std::size_t>(FEnd & kBlockMask);
  // A raw capture gives every item a time of its own: its marks count too.
  const bool newTime = FTimes.empty() || FTimes.back().TimeUs != timeUs;
  const uint64_t needed =
      bytes.size() + (at == 0 ? kBlockBytes : 0) + (newTime ? sizeof(TMark) : 0);
  if (FMemory + needed > FMemoryLimit) return false;
  FMemory += needed;
  if (at == 0) {
    // The block before is complete: give back what its bytes reserved.
    if (!FBlocks.empty()) FBlocks.back().Bytes.shrink_to_fit();
    TBlock block;
    // Written before they are read: no need to clear them first.
    block.Starts = std::make_unique_for_overwrite<uint32_t[]>(kBlockSize);
    block.Meta = std::make_unique_for_overwrite<uint8_t[]>(kBlockSize);
    // About what a block of a busy line holds (mostly one-byte calls).
    block.Bytes.reserve(FBlocks.empty() ? 4096 : FBlocks.back().Bytes.size() + 1024);
    FBlocks.push_back(std::move(block));
  }
  if (FSessions.empty()) FSessions.push_back({FEnd, timeUs});
  if (newTime) FTimes.push_back({FEnd, timeUs});

  const TItemKind kind = item.Kind;
  if (kind == TItemKind::ikCallByte) FCurrentDevice = static_cast<uint8_t>(bytes[0]) & 0x1F;
  TBlock& block = FBlocks.back();
  block.Starts[at] = static_cast<uint32_t>(block.Bytes.size());
  block.Meta[at] =
      static_cast<uint8_t>((static_cast<int>(kind) - kFirstKind) | FCurrentDevice << 3);
  block.Bytes.append(bytes);

  FTotalBytes += bytes.size();
  if (kind == TItemKind::ikLoneByte || kind == TItemKind::ikUnrecognised)
    FUnrecognisedBytes += bytes.size();
  ++FEnd;
  return true;
}

void TTrafficArchive::Finish() {
  if (!FBlocks.empty()) FBlocks.back().Bytes.shrink_to_fit();
  FTimes.shrink_to_fit();
}

const TTrafficArchive::TMark* TTrafficArchive::MarkFor(const std::vector<TMark>& marks,
                                                       uint64_t seq) noexcept {
  auto it = std::upper_bound(marks.begin(), marks.end(), seq,
                             [](uint64_t s, const TMark& m) { return s < m.FirstSeq; });
  return it == marks.begin() ? nullptr : &*std::prev(it);
}

int64_t TTrafficArchive::TimeUs(uint64_t seq) const noexcept {
  const TMark* mark = MarkFor(FTimes, seq);
  return mark ? mark->TimeUs : 0;
}

TItemKind TTrafficArchive::Kind(uint64_t seq) const noexcept {
  const uint8_t meta = FBlocks[seq >> kBlockShift].Meta[seq & kBlockMask];
  return static_cast<TItemKind>((meta & 7) + kFirstKind);
}

int TTrafficArchive::Device(uint64_t seq) const noexcept {
  return FBlocks[seq >> kBlockShift].Meta[seq & kBlockMask] >> 3;
}

std::string_view TTrafficArchive::Bytes(uint64_t seq) const noexcept {
  const TBlock& block = FBlocks[seq >> kBlockShift];
  const std::size_t at = static_cast<std::size_t>(seq & kBlockMask);
  const std::size_t begin = block.Starts[at];
  // The block's last item (the archive's last, or a full block's) runs to
  // the end of its bytes.
  const bool last = at + 1 == kBlockSize || seq + 1 == FEnd;
  const std::size_t end = last ? block.Bytes.size() : block.Starts[at + 1];
  return std::string_view(block.Bytes).substr(begin, end - begin);
}

int64_t TTrafficArchive::SessionStart(uint64_t seq) const noexcept {
  const TMark* mark = MarkFor(FSessions, seq);
  return mark ? mark->TimeUs : 0;
}

std::size_t TTrafficArchive::MemoryBytes() const noexcept {
  std::size_t bytes = sizeof(*this) + FBlocks.capacity() * sizeof(TBlock) +
                      (FTimes.capacity() + FSessions.capacity()) * sizeof(TMark);
  for (const TBlock& block : FBlocks)
    bytes += kBlockSize * (sizeof(uint32_t) + sizeof(uint8_t)) + block.Bytes.capacity();
  return bytes;
}
