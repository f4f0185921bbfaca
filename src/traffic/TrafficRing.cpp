// TTrafficRing: the last N items taken from the bus, compact.
#include "traffic/TrafficRing.h"

#include <algorithm>
#include <cstring>

namespace {

std::size_t ClampCapacity(std::size_t capacity) {
  return std::clamp(capacity, TTrafficRing::kMinCapacity, TTrafficRing::kMaxCapacity);
}

}  // namespace

TTrafficRing::TTrafficRing(std::size_t capacity) : FCapacity(ClampCapacity(capacity)) {}

TTrafficRing::~TTrafficRing() = default;

void TTrafficRing::SetSideLimit(std::size_t bytes) {
  FSideLimit = bytes;
  while (FSideBytes > FSideLimit && Count() > 0) DropOldest();
}

void TTrafficRing::SetCapacity(std::size_t capacity) {
  capacity = ClampCapacity(capacity);
  if (capacity == FCapacity) return;
  while (Count() > capacity) DropOldest();
  // Positions are sequence numbers modulo the capacity: move every item held
  // to its place in storage of the new size.
  std::vector<std::unique_ptr<TTrafficItem[]>> old;
  old.swap(FBlocks);
  const std::size_t oldCapacity = FCapacity;
  FCapacity = capacity;
  for (uint64_t seq = FFirst; seq < FEnd; ++seq) {
    const std::size_t pos = static_cast<std::size_t>(seq % oldCapacity);
    const TTrafficItem item = old[pos >> kBlockShift][pos & kBlockMask];
    EnsureSlot(seq);
    Slot(seq) = item;
  }
}

void TTrafficRing::BeginSession(int64_t startUs) {
  if (!FSessions.empty() && FSessions.back().FirstSeq == FEnd)
    FSessions.back().StartUs = startUs;  // nothing came in the one before
  else
    FSessions.push_back({FEnd, startUs});
}

void TTrafficRing::MarkGap(int64_t fromUs, int64_t toUs) {
  if (!FGaps.empty() && FGaps.back().Seq == FEnd)
    FGaps.back().ToUs = toUs;  // the line came back without a word in between
  else
    FGaps.push_back({FEnd, fromUs, toUs});
}

const TTrafficRing::TGap* TTrafficRing::GapWithin(uint64_t fromSeq, uint64_t toSeq) const noexcept {
  auto it = std::upper_bound(FGaps.begin(), FGaps.end(), toSeq,
                             [](uint64_t s, const TGap& gap) { return s < gap.Seq; });
  if (it == FGaps.begin()) return nullptr;
  const TGap& gap = *std::prev(it);
  return gap.Seq >= fromSeq ? &gap : nullptr;
}

void TTrafficRing::DropGaps() {
  while (!FGaps.empty() && FGaps.front().Seq < FFirst) FGaps.pop_front();
}

void TTrafficRing::EnsureSlot(uint64_t seq) {
  const std::size_t block = static_cast<std::size_t>(seq % FCapacity) >> kBlockShift;
  if (block >= FBlocks.size()) FBlocks.resize(block + 1);
  if (!FBlocks[block]) {
    // The last block holds only what the capacity leaves for it.
    const std::size_t size = std::min(kBlockSize, FCapacity - (block << kBlockShift));
    FBlocks[block] = std::make_unique<TTrafficItem[]>(size);
  }
}

uint64_t TTrafficRing::Append(const TBusItem& classified, int64_t timeUs, std::string_view bytes) {
  if (bytes.empty()) return FEnd;
  const bool isLong = bytes.size() > kInlineBytes;
  if (isLong) {
    while (Count() > 0 && FSideBytes + bytes.size() > FSideLimit) DropOldest();
  }
  if (Count() >= FCapacity) DropOldest();
  // Items from a source that never said when it began count from the first.
  if (FSessions.empty()) FSessions.push_back({FEnd, timeUs});

  const TItemKind kind = classified.Kind;
  if (kind == TItemKind::ikCallByte) FCurrentDevice = static_cast<uint8_t>(bytes[0]) & 0x1F;

  EnsureSlot(FEnd);
  TTrafficItem& item = Slot(FEnd);
  item.TimeUs = timeUs;
  item.Length = static_cast<uint32_t>(std::min<std::size_t>(bytes.size(), UINT32_MAX));
  item.Kind = static_cast<uint8_t>(kind);
  item.Device = static_cast<uint8_t>(FCurrentDevice);
  item.Reserved = 0;
  if (isLong) {
    item.SideIndex = FSideFirst + FSide.size();
    FSide.emplace_back(bytes.substr(0, item.Length));
    FSideBytes += item.Length;
  } else {
    item.SideIndex = 0;
    std::memcpy(item.Bytes, bytes.data(), bytes.size());
  }

  ++FTotalItems;
  FTotalBytes += bytes.size();
  if (kind == TItemKind::ikLoneByte || kind == TItemKind::ikUnrecognised)
    FUnrecognisedBytes += bytes.size();
  return FEnd++;
}

void TTrafficRing::DropOldest() {
  const TTrafficItem& item = Slot(FFirst);
  if (item.Length > kInlineBytes && !FSide.empty()) {
    FSideBytes -= FSide.front().size();
    FSide.pop_front();
    ++FSideFirst;
  }
  ++FFirst;
  ++FDropped;
  while (FSessions.size() >= 2 && FSessions[1].FirstSeq <= FFirst) FSessions.pop_front();
  DropGaps();
}

void TTrafficRing::Clear() {
  FFirst = FEnd;
  FDropped = FTotalItems = FTotalBytes = FUnrecognisedBytes = 0;
  FSideFirst += FSide.size();
  FSide.clear();
  FSide.shrink_to_fit();
  FSideBytes = 0;
  while (FSessions.size() >= 2) FSessions.pop_front();
  DropGaps();  // one still waiting for its first item stays
}

std::string_view TTrafficRing::Bytes(uint64_t seq) const noexcept {
  const TTrafficItem& item = Item(seq);
  if (item.Length <= kInlineBytes)
    return std::string_view(reinterpret_cast<const char*>(item.Bytes), item.Length);
  return FSide[static_cast<std::size_t>(item.SideIndex - FSideFirst)];
}

int64_t TTrafficRing::SessionStart(uint64_t seq) const noexcept {
  auto it =
      std::upper_bound(FSessions.begin(), FSessions.end(), seq,
                       [](uint64_t s, const TSession& session) { return s < session.FirstSeq; });
  return it == FSessions.begin() ? 0 : std::prev(it)->StartUs;
}

std::size_t TTrafficRing::MemoryBytes() const noexcept {
  std::size_t bytes = FBlocks.capacity() * sizeof(FBlocks[0]);
  for (std::size_t b = 0; b < FBlocks.size(); ++b)
    if (FBlocks[b])
      bytes += std::min(kBlockSize, FCapacity - (b << kBlockShift)) * sizeof(TTrafficItem);
  for (const std::string& s : FSide) bytes += sizeof(std::string) + s.capacity();
  return bytes;
}
