// TSeriesStore: the bus over time, one point a second.
#include "series/SeriesStore.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "base/BinaryCodec.h"

namespace {

constexpr int64_t kUsPerTenth = kUsPerSecond / 10;

int64_t FloorDiv(int64_t a, int64_t b) noexcept {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

uint16_t Saturate16(uint32_t v) noexcept { return v > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(v); }

}  // namespace

TSeriesStore::TSeriesStore(int64_t capacitySeconds)
    : FCapacity(std::max(capacitySeconds, kMinSeconds)) {}

TSeriesStore::~TSeriesStore() = default;

void TSeriesStore::Clear() {
  FBlocks.clear();
  FOpenBlock = nullptr;
  FPower.clear();
  FFirst = FOpen = FOpenEndUs = FLastUs = 0;
  FFinished = false;
  FBroken = false;
  FDevicesSeen = 0;
  FCalled = 0;
}

namespace {

int64_t BlockNumber(int64_t s, int shift) noexcept { return s >> shift; }  // floors

}  // namespace

const TSeriesStore::TBlock* TSeriesStore::BlockOf(int64_t s) const noexcept {
  const int64_t number = BlockNumber(s, kBlockShift);
  if (FOpenBlock && number == BlockNumber(FOpen, kBlockShift)) return FOpenBlock;
  const auto it = FBlocks.find(number);
  return it == FBlocks.end() ? nullptr : it->second.get();
}

// Only for seconds of a block held (the open second's always is).
TSecondPoint& TSeriesStore::Point(int64_t s) noexcept {
  return const_cast<TBlock*>(BlockOf(s))->Points[static_cast<std::size_t>(s & (kBlockSeconds - 1))];
}

const TSecondPoint& TSeriesStore::At(int64_t s) const noexcept {
  static const TSecondPoint kNoData{};
  const TBlock* block = BlockOf(s);
  return block ? block->Points[static_cast<std::size_t>(s & (kBlockSeconds - 1))] : kNoData;
}

void TSeriesStore::Add(const TBusItem& kind, std::string_view item, int64_t timeUs) {
  if (item.empty()) return;
  if (Empty() || timeUs >= FOpenEndUs) OpenSecond(timeUs);
  FFinished = false;
  FLastUs = std::max(FLastUs, timeUs);
  // An item older than the tenth being counted (a clock set back) counts in it.
  while (timeUs >= FTenthEndUs && FTenthsDone < 10) CloseTenth();

  TSecondPoint& p = Point(FOpen);
  const auto size = static_cast<uint32_t>(item.size());
  p.Bytes += size;
  ++p.Items;
  FTenthBytes += size;
  ++FTenthItems;
  switch (kind.Kind) {
    case TItemKind::ikLoneByte:
    case TItemKind::ikUnrecognised:
      p.BadBytes += size;
      FTenthBad += size;
      break;
    case TItemKind::ikCallByte:
      FCalled = kind.Address;
      break;
    case TItemKind::ikDevice:
      CountDeviceMessage();
      break;
    case TItemKind::ikCentralStatus: {
      if (item.size() < 7) break;
      const auto ia = static_cast<uint8_t>(item[3]);
      if (p.HasStatus()) {
        p.IaMin = std::min(p.IaMin, ia);
        p.IaMax = std::max(p.IaMax, ia);
      } else {
        p.IaMin = p.IaMax = ia;
      }
      p.IaLast = ia;
      p.Im = static_cast<uint8_t>(item[2]) & 0x0F;
      p.Flags |= TSecondPoint::kStatus | TSecondPoint::kFreshStatus;
      break;
    }
    case TItemKind::ikCentralPower:
      if (kind.Power != p.Power) AddPowerChange(timeUs, kind.Power);
      p.Power = kind.Power;
      if (kind.Power != kPowerOn) p.PowerOff = kind.Power;
      break;
    default:
      break;
  }
}

void TSeriesStore::CountDeviceMessage() {
  if (FCalled < 1 || FCalled > kDeviceCount) return;
  auto& counts = FOpenBlock->Devices[static_cast<std::size_t>(FCalled)];
  if (!counts) counts = std::make_unique<uint16_t[]>(kBlockSeconds);  // zeroed
  uint16_t& n = counts[static_cast<std::size_t>(FOpen & (kBlockSeconds - 1))];
  if (n != 0xFFFF) ++n;
  FDevicesSeen |= 1u << FCalled;
}

void TSeriesStore::CloseTenth() noexcept {
  TSecondPoint& p = Point(FOpen);
  const uint16_t b = Saturate16(FTenthBytes), n = Saturate16(FTenthItems),
                 bad = Saturate16(FTenthBad);
  if (FTenthsDone == 0) {
    p.BytesMin = p.BytesMax = b;
    p.ItemsMin = p.ItemsMax = n;
    p.BadMin = p.BadMax = bad;
  } else {
    p.BytesMin = std::min(p.BytesMin, b), p.BytesMax = std::max(p.BytesMax, b);
    p.ItemsMin = std::min(p.ItemsMin, n), p.ItemsMax = std::max(p.ItemsMax, n);
    p.BadMin = std::min(p.BadMin, bad), p.BadMax = std::max(p.BadMax, bad);
  }
  FTenthBytes = FTenthItems = FTenthBad = 0;
  FTenthEndUs += kUsPerTenth;
  ++FTenthsDone;
}

void TSeriesStore::CloseSecond() noexcept {
  while (FTenthsDone < 10) CloseTenth();
}

void TSeriesStore::Finish() {
  if (Empty() || FFinished) return;
  // The tenths after the last item never happened: only the started one counts.
  if (FTenthsDone < 10) CloseTenth();
  FTenthsDone = 10;
  FFinished = true;
}

void TSeriesStore::MarkLoss(int64_t timeUs) {
  if (Empty()) return;
  Finish();
  if (!FPower.empty() && FPower.back().State != kPowerNone) AddPowerChange(timeUs, kPowerNone);
  // A power message after the return, still in this second, is a change again.
  Point(FOpen).Power = kPowerNone;
  FBroken = true;
}

void TSeriesStore::Start(int64_t s) {
  FBlocks.clear();
  FOpenBlock = (FBlocks[BlockNumber(s, kBlockShift)] = std::make_unique<TBlock>()).get();
  FFirst = FOpen = s;
}

void TSeriesStore::OpenSecond(int64_t timeUs) {
  const int64_t s = FloorDiv(timeUs, kUsPerSecond);
  TSecondPoint carried;
  bool carry = false;
  if (Empty()) {
    Start(s);
  } else {
    CloseSecond();
    carried = Point(FOpen);
    carry = s == FOpen + 1 && !FBroken;
    // The line said nothing for a whole second, or went down: whatever held
    // is unknown now.
    if (!carry && FPower.size() && FPower.back().State != kPowerNone)
      AddPowerChange(FOpenEndUs, kPowerNone);
    if (s - FOpen > FCapacity) {
      FPower.clear();
      Start(s);
    } else {
      FOpen = s;
      auto& block = FBlocks[BlockNumber(s, kBlockShift)];
      if (!block) block = std::make_unique<TBlock>();
      FOpenBlock = block.get();
      DropOld();
    }
  }
  FOpenEndUs = (s + 1) * kUsPerSecond;
  FTenthEndUs = s * kUsPerSecond + kUsPerTenth;
  FTenthsDone = 0;
  FTenthBytes = FTenthItems = FTenthBad = 0;
  FFinished = false;
  FBroken = false;

  TSecondPoint& p = Point(s);
  if (carry) {
    p.IaMin = p.IaMax = p.IaLast = carried.IaLast;
    p.Im = carried.Im;
    p.Flags = carried.Flags & TSecondPoint::kStatus;
    p.Power = carried.Power;
    p.PowerOff = carried.Power != kPowerOn ? carried.Power : kPowerNone;
  }
}

void TSeriesStore::DropOld() {
  // Whole blocks go once every second in them is older than the capacity.
  const int64_t keepFrom = FOpen - FCapacity;  // capacity complete seconds and the open one
  while (FBlocks.size() > 1 && (FBlocks.begin()->first + 1) * kBlockSeconds <= keepFrom)
    FBlocks.erase(FBlocks.begin());
  FFirst = std::max(FFirst, FBlocks.begin()->first * kBlockSeconds);
  // The change in force at the first second stays, moved to it.
  const int64_t firstUs = FFirst * kUsPerSecond;
  while (FPower.size() >= 2 && FPower[1].TimeUs <= firstUs) FPower.pop_front();
  if (!FPower.empty() && FPower.front().TimeUs < firstUs) FPower.front().TimeUs = firstUs;
}

void TSeriesStore::AddPowerChange(int64_t timeUs, uint8_t state) {
  if (!FPower.empty()) {
    if (FPower.back().State == state) return;
    timeUs = std::max(timeUs, FPower.back().TimeUs);
  } else if (state == kPowerNone) {
    return;
  }
  FPower.push_back({timeUs, state});
  if (FPower.size() > kMaxPowerChanges) FPower.pop_front();
}

uint16_t TSeriesStore::DeviceMessages(int device, int64_t s) const noexcept {
  if (device < 1 || device > kDeviceCount || !Holds(s)) return 0;
  const TBlock* block = BlockOf(s);
  if (!block) return 0;
  const auto& counts = block->Devices[static_cast<std::size_t>(device)];
  return counts ? counts[static_cast<std::size_t>(s & (kBlockSeconds - 1))] : 0;
}

bool TSeriesStore::DeviceSeen(int device) const noexcept {
  if (device < 1 || device > kDeviceCount) return false;
  for (const auto& [number, block] : FBlocks)
    if (block->Devices[static_cast<std::size_t>(device)]) return true;
  return false;
}

std::vector<TPowerInterval> TSeriesStore::PowerIntervals(int64_t fromUs, int64_t toUs) const {
  std::vector<TPowerInterval> out;
  if (Empty()) return out;
  fromUs = std::max(fromUs, FFirst * kUsPerSecond);
  toUs = std::min(toUs, EndSecond() * kUsPerSecond);
  if (fromUs >= toUs) return out;
  // The change in force at fromUs, then every later one before toUs.
  auto it = std::upper_bound(FPower.begin(), FPower.end(), fromUs,
                             [](int64_t t, const TPowerChange& c) { return t < c.TimeUs; });
  uint8_t state = it == FPower.begin() ? kPowerNone : std::prev(it)->State;
  int64_t start = fromUs;
  for (; it != FPower.end() && it->TimeUs < toUs; ++it) {
    if (it->TimeUs > start) out.push_back({start, it->TimeUs, state});
    start = std::max(start, it->TimeUs);
    state = it->State;
  }
  out.push_back({start, toUs, state});
  return out;
}

std::size_t TSeriesStore::MemoryBytes() const noexcept {
  // A map node: three links, a colour, the key and the pointer.
  constexpr std::size_t kNodeBytes = 4 * sizeof(void*) + sizeof(int64_t) + sizeof(void*);
  std::size_t n = sizeof(*this) + FBlocks.size() * (sizeof(TBlock) + kNodeBytes);
  for (const auto& [number, b] : FBlocks)
    for (const auto& d : b->Devices)
      if (d) n += kBlockSeconds * sizeof(uint16_t);
  // A deque stores its elements in 512-byte pieces, plus a map of them.
  const std::size_t perPiece = 512 / sizeof(TPowerChange);
  n += (FPower.size() / perPiece + 2) * (512 + sizeof(void*));
  return n;
}

// Points and device counts go as they lie in memory: every platform the
// program runs on is little-endian, as the rest of the file is.
static_assert(std::endian::native == std::endian::little);

void TSeriesStore::Save(std::string& out) const {
  out.push_back(Empty() ? 0 : 1);
  if (Empty()) return;
  for (int64_t v : {FFirst, FOpen, FOpenEndUs, FLastUs, FTenthEndUs})
    PutU64(out, static_cast<uint64_t>(v));
  out.push_back(static_cast<char>((FFinished ? 1 : 0) | (FBroken ? 2 : 0)));
  for (uint32_t v : {FDevicesSeen, static_cast<uint32_t>(FTenthsDone), FTenthBytes, FTenthItems,
                     FTenthBad, static_cast<uint32_t>(FCalled)})
    PutU32(out, v);
  PutU32(out, static_cast<uint32_t>(FPower.size()));
  for (const TPowerChange& c : FPower) {
    PutU64(out, static_cast<uint64_t>(c.TimeUs));
    out.push_back(static_cast<char>(c.State));
  }
  PutU32(out, static_cast<uint32_t>(FBlocks.size()));
  for (const auto& [number, block] : FBlocks) {
    PutU64(out, static_cast<uint64_t>(number));
    out.append(reinterpret_cast<const char*>(block->Points.data()), sizeof block->Points);
    uint32_t devices = 0;
    for (std::size_t d = 0; d < block->Devices.size(); ++d)
      if (block->Devices[d]) devices |= 1u << d;
    PutU32(out, devices);
    for (const auto& counts : block->Devices)
      if (counts)
        out.append(reinterpret_cast<const char*>(counts.get()), kBlockSeconds * sizeof(uint16_t));
  }
}

bool TSeriesStore::Load(std::string_view in) {
  Clear();
  TByteReader r(in);
  if (r.U8() == 0) return r.Ok() && r.AtEnd();
  FFirst = r.I64();
  FOpen = r.I64();
  FOpenEndUs = r.I64();
  FLastUs = r.I64();
  FTenthEndUs = r.I64();
  const uint8_t flags = r.U8();
  FFinished = (flags & 1) != 0;
  FBroken = (flags & 2) != 0;
  FDevicesSeen = r.U32();
  FTenthsDone = static_cast<int>(r.U32());
  FTenthBytes = r.U32();
  FTenthItems = r.U32();
  FTenthBad = r.U32();
  FCalled = static_cast<int>(r.U32());
  const uint32_t changes = r.U32();
  for (uint32_t i = 0; i < changes && r.Ok(); ++i) {
    TPowerChange c;
    c.TimeUs = r.I64();
    c.State = r.U8();
    FPower.push_back(c);
  }
  const uint32_t blocks = r.U32();
  for (uint32_t i = 0; i < blocks && r.Ok(); ++i) {
    const int64_t number = r.I64();
    auto block = std::make_unique<TBlock>();
    const std::string_view points = r.Raw(sizeof block->Points);
    const uint32_t devices = r.U32();
    if (!r.Ok()) break;
    std::memcpy(block->Points.data(), points.data(), points.size());
    for (std::size_t d = 0; d < block->Devices.size(); ++d) {
      if ((devices & (1u << d)) == 0) continue;
      const std::string_view counts = r.Raw(kBlockSeconds * sizeof(uint16_t));
      if (!r.Ok()) break;
      block->Devices[d] = std::make_unique<uint16_t[]>(kBlockSeconds);
      std::memcpy(block->Devices[d].get(), counts.data(), counts.size());
    }
    FBlocks[number] = std::move(block);
  }
  const auto open = FBlocks.find(BlockNumber(FOpen, kBlockShift));
  if (!r.Ok() || !r.AtEnd() || open == FBlocks.end() || FFirst > FOpen || FTenthsDone < 0 ||
      FTenthsDone > 10 || FCalled < 0 || FCalled > kDeviceCount) {
    Clear();
    return false;
  }
  FOpenBlock = open->second.get();
  return true;
}
