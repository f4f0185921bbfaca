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

void TTrafficArchive::TMarks::PushBack(const TMark& mark) {
  if ((FCount & (kPieceSize - 1)) == 0 && (FCount >> kPieceShift) == FPieces.size())
    FPieces.push_back(std::make_unique_for_overwrite<TMark[]>(kPieceSize));
  At(FCount++) = mark;
}

const TTrafficArchive::TMark* TTrafficArchive::TMarks::For(uint64_t seq) const noexcept {
  std::size_t lo = 0, hi = FCount;  // the first mark after seq lies in [lo, hi]
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (At(mid).FirstSeq <= seq)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo == 0 ? nullptr : &At(lo - 1);
}

void TTrafficArchive::TMarks::Times(uint64_t seq, std::size_t count,
                                    TItemView* out) const noexcept {
  std::size_t next = 0, hi = FCount;  // the first mark after seq lies in [next, hi]
  while (next < hi) {
    const std::size_t mid = next + (hi - next) / 2;
    if (At(mid).FirstSeq <= seq)
      next = mid + 1;
    else
      hi = mid;
  }
  for (std::size_t i = 0; i < count; ++i) {
    while (next < FCount && At(next).FirstSeq <= seq + i) ++next;
    out[i].TimeUs = next == 0 ? 0 : At(next - 1).TimeUs;
  }
}

std::size_t TTrafficArchive::TMarks::MemoryBytes() const noexcept {
  return FPieces.capacity() * sizeof(FPieces[0]) + FPieces.size() * kPieceSize * sizeof(TMark);
}

bool TTrafficArchive::BeginSession(int64_t startUs) {
  if (!FSessions.Empty() && FSessions.Back().FirstSeq == FEnd) {
    FSessions.Back().TimeUs = startUs;  // nothing came in the one before
    return true;
  }
  if (!Fits(sizeof(TMark))) return false;
  FMemory += sizeof(TMark);
  FSessions.PushBack({FEnd, startUs});
  return true;
}

bool TTrafficArchive::Append(const TBusItem& item, int64_t timeUs, std::string_view bytes) {
  if (bytes.empty()) return true;
  const std::size_t at = static_cast<std::size_t>(FEnd & kBlockMask);
  // A raw capture gives every item a time of its own: its marks count too.
  const bool newTime = FTimes.Empty() || FTimes.Back().TimeUs != timeUs;
  const bool newSession = FSessions.Empty();
  // The bytes count as the room they hold: a string that must grow doubles.
  const uint64_t blockReserve = at == 0 ? std::max<uint64_t>(bytes.size(), NextBlockReserve()) : 0;
  uint64_t bytesRoom = blockReserve;
  if (at != 0) {
    const std::string& held = FBlocks.back().Bytes;
    if (held.size() + bytes.size() > held.capacity())
      bytesRoom = std::max(held.size() + bytes.size(), 2 * held.capacity()) - held.capacity();
  }
  const uint64_t needed = bytesRoom + (at == 0 ? kBlockBytes : 0) + (newTime ? sizeof(TMark) : 0) +
                          (newSession ? sizeof(TMark) : 0);
  if (!Fits(needed)) return false;
  if (at == 0) {
    // The block before is complete: give back what its bytes reserved.
    if (!FBlocks.empty()) ShrinkLastBlock();
    TBlock block;
    // Written before they are read: no need to clear them first.
    block.Starts = std::make_unique_for_overwrite<uint32_t[]>(kBlockSize);
    block.Meta = std::make_unique_for_overwrite<uint8_t[]>(kBlockSize);
    block.Bytes.reserve(blockReserve);
    FMemory += kBlockBytes + block.Bytes.capacity();
    FBlocks.push_back(std::move(block));
  }
  if (newSession) {
    FMemory += sizeof(TMark);
    FSessions.PushBack({FEnd, timeUs});
  }
  if (newTime) {
    FMemory += sizeof(TMark);
    FTimes.PushBack({FEnd, timeUs});
  }

  const TItemKind kind = item.Kind;
  if (kind == TItemKind::ikCallByte) FCurrentDevice = static_cast<uint8_t>(bytes[0]) & 0x1F;
  TBlock& block = FBlocks.back();
  block.Starts[at] = static_cast<uint32_t>(block.Bytes.size());
  block.Meta[at] =
      static_cast<uint8_t>((static_cast<int>(kind) - kFirstKind) | FCurrentDevice << 3);
  const std::size_t room = block.Bytes.capacity();
  block.Bytes.append(bytes);
  FMemory += block.Bytes.capacity() - room;

  FTotalBytes += bytes.size();
  if (kind == TItemKind::ikLoneByte || kind == TItemKind::ikUnrecognised)
    FUnrecognisedBytes += bytes.size();
  ++FEnd;
  return true;
}

// About what a block of a busy line holds (mostly one-byte calls).
uint64_t TTrafficArchive::NextBlockReserve() const noexcept {
  return FBlocks.empty() ? 4096 : FBlocks.back().Bytes.size() + 1024;
}

void TTrafficArchive::ShrinkLastBlock() {
  std::string& bytes = FBlocks.back().Bytes;
  const std::size_t room = bytes.capacity();
  bytes.shrink_to_fit();
  FMemory -= room - bytes.capacity();
}

void TTrafficArchive::Finish() {
  if (!FBlocks.empty()) ShrinkLastBlock();
}

int64_t TTrafficArchive::TimeUs(uint64_t seq) const noexcept {
  const TMark* mark = FTimes.For(seq);
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

void TTrafficArchive::Items(uint64_t seq, std::size_t count, TItemView* out) const noexcept {
  FTimes.Times(seq, count, out);
  for (std::size_t i = 0; i < count;) {
    // The rest of this block in one go.
    const uint64_t s = seq + i;
    const TBlock& block = FBlocks[s >> kBlockShift];
    const std::size_t at = static_cast<std::size_t>(s & kBlockMask);
    const std::size_t n = std::min(count - i, kBlockSize - at);
    // The block's last item (the archive's last, or a full block's) runs to
    // the end of its bytes.
    const bool holdsLast = at + n == kBlockSize || s + n == FEnd;
    const std::string_view bytes(block.Bytes);
    for (std::size_t k = 0; k < n; ++k) {
      const uint8_t meta = block.Meta[at + k];
      const std::size_t begin = block.Starts[at + k];
      const std::size_t end = holdsLast && k + 1 == n ? bytes.size() : block.Starts[at + k + 1];
      TItemView& v = out[i + k];
      v.Bytes = bytes.substr(begin, end - begin);
      v.Kind = static_cast<TItemKind>((meta & 7) + kFirstKind);
      v.Device = meta >> 3;
    }
    i += n;
  }
}

int64_t TTrafficArchive::SessionStart(uint64_t seq) const noexcept {
  const TMark* mark = FSessions.For(seq);
  return mark ? mark->TimeUs : 0;
}

std::size_t TTrafficArchive::MemoryBytes() const noexcept {
  std::size_t bytes = sizeof(*this) + FBlocks.capacity() * sizeof(TBlock) + FTimes.MemoryBytes() +
                      FSessions.MemoryBytes();
  for (const TBlock& block : FBlocks)
    bytes += kBlockSize * (sizeof(uint32_t) + sizeof(uint8_t)) + block.Bytes.capacity();
  return bytes;
}
