// TSeriesStore: the bus over time, one point a second.
#include "series/SeriesStore.h"

#include <algorithm>

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
