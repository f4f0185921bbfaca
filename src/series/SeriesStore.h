// TSeriesStore: the bus over time, one point a second, for the graph and its
// CSV export.  Fed with every item and its receive time, in time order, from
// any source (the window's drain, an opened capture); one thread.
//
// Per second it keeps the byte, item and unrecognised-byte totals, and for
// each of the three the fewest and the most in one tenth of the second: a
// second holds ten short windows, so a burst or a stall inside it still
// shows when the second's total looks ordinary.  The central's present and
// maximum current come from its status messages and hold from one message
// to the next (the lowest and highest value in force during the second, and
// the last); the power state is kept both per second and as a list of exact
// changes (the band's edges).  Every device's message rate is counted, so a
// device picked later still shows its past.
//
// A second without any item is "no data" (no connection, or a silent line):
// values do not carry across it.  Items older than the newest second count
// in it (a wall clock set back does not reorder the past).  Memory: 24 hours
// take at most about 9 MB (see MemoryBytes); older seconds are dropped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bus/BusItem.h"

inline constexpr int64_t kUsPerSecond = 1000000;

// Power states: the third byte of the central's power message.
inline constexpr uint8_t kPowerNone = 0;  // not known: no data, or no power message yet
inline constexpr uint8_t kPowerOn = 0x80;

struct TSecondPoint {
  uint32_t Bytes = 0;     // bytes of the items received in the second
  uint32_t Items = 0;     // items (call bytes, lone bytes, messages)
  uint32_t BadBytes = 0;  // lone bytes and unrecognised runs: the line's quality
  // Fewest and most in one tenth of the second (ten times that is a rate per
  // second); saturated at 65535.
  uint16_t BytesMin = 0, BytesMax = 0;
  uint16_t ItemsMin = 0, ItemsMax = 0;
  uint16_t BadMin = 0, BadMax = 0;
  // Present current in tenths of an ampere, lowest, highest and at the end
  // of the second, and the maximum current in amperes: valid with kStatus.
  uint8_t IaMin = 0, IaMax = 0, IaLast = 0;
  uint8_t Im = 0;
  uint8_t Power = kPowerNone;     // state at the end of the second
  uint8_t PowerOff = kPowerNone;  // the last state other than "on" held during it, if any
  uint8_t Flags = 0;
  uint8_t Reserved = 0;

  static constexpr uint8_t kStatus = 1;       // the central's status is known
  static constexpr uint8_t kFreshStatus = 2;  // a status message came in this second

  bool HasData() const noexcept { return Items != 0; }
  bool HasStatus() const noexcept { return (Flags & kStatus) != 0; }
};
static_assert(sizeof(TSecondPoint) == 32, "24 hours of points must stay small");

struct TPowerChange {
  int64_t TimeUs = 0;
  uint8_t State = kPowerNone;
};

struct TPowerInterval {
  int64_t StartUs = 0;
  int64_t EndUs = 0;
  uint8_t State = kPowerNone;
};

class TSeriesStore {
public:
  static constexpr int64_t kDefaultSeconds = 24 * 3600;
  static constexpr int64_t kMinSeconds = 60;
  // Changes of the power state kept at most (a flapping line must not eat
  // memory); beyond it the oldest go and the band starts later.
  static constexpr std::size_t kMaxPowerChanges = 16384;
  static constexpr int kDeviceCount = 31;

  // Keeps at least capacitySeconds (at least kMinSeconds) of the newest data.
  explicit TSeriesStore(int64_t capacitySeconds = kDefaultSeconds);
  ~TSeriesStore();
  TSeriesStore(const TSeriesStore&) = delete;
  TSeriesStore& operator=(const TSeriesStore&) = delete;

  // One item and its receive time (microseconds since the epoch).  Empty
  // items are ignored.  The first form classifies the item itself.
  void Add(std::string_view item, int64_t timeUs) { Add(ClassifyItem(item), item, timeUs); }
  void Add(const TBusItem& kind, std::string_view item, int64_t timeUs);
  // The source has ended (an opened capture read to its end): the newest
  // second counts as complete, as far as it got.
  void Finish();
  // The line went down at timeUs (a lost port): the newest second is
  // complete as in Finish(), the power state is unknown from then on, and
  // nothing known before carries into the next second with data.
  void MarkLoss(int64_t timeUs);
  void Clear();

  bool Empty() const noexcept { return FOpenBlock == nullptr; }
  int64_t CapacitySeconds() const noexcept { return FCapacity; }
  // The complete seconds held, [FirstSecond, EndSecond), as seconds since the
  // epoch.  The newest second is complete once a later one began or after
  // Finish(); until then it is still filling and left out.
  int64_t FirstSecond() const noexcept { return FFirst; }
  int64_t EndSecond() const noexcept { return FFinished ? FOpen + 1 : FOpen; }
  // Time of the newest item, 0 before any.
  int64_t LastTimeUs() const noexcept { return FLastUs; }

  // s in [FirstSecond(), FOpen]: the newest second may be read while it fills.
  const TSecondPoint& At(int64_t s) const noexcept;
  bool Holds(int64_t s) const noexcept { return !Empty() && s >= FFirst && s <= FOpen; }
  // Messages of device 1-31 in second s (0 outside what is held).
  uint16_t DeviceMessages(int device, int64_t s) const noexcept;
  // Whether the device sent a message in the seconds held.
  bool DeviceSeen(int device) const noexcept;

  // The power state over [fromUs, toUs), cut at the end of the complete
  // seconds, in time order; stretches of no known state included (kPowerNone).
  std::vector<TPowerInterval> PowerIntervals(int64_t fromUs, int64_t toUs) const;
  const std::deque<TPowerChange>& PowerChanges() const noexcept { return FPower; }

  // Heap and object bytes held: the memory bound counts on it.
  std::size_t MemoryBytes() const noexcept;

  // Everything held, as bytes to keep on disk, and read back into an empty
  // store of the same capacity; false, the store left empty, when the bytes
  // are not what Save wrote.
  void Save(std::string& out) const;
  bool Load(std::string_view in);

private:
  static constexpr int kBlockShift = 10;
  static constexpr int64_t kBlockSeconds = int64_t{1} << kBlockShift;  // 17 minutes a block
  struct TBlock {
    std::array<TSecondPoint, kBlockSeconds> Points{};
    // Messages of each device a second, allocated when the device first speaks.
    std::array<std::unique_ptr<uint16_t[]>, kDeviceCount + 1> Devices{};
  };

  // A block by its number (seconds since the epoch >> kBlockShift); null
  // when none holds that stretch.
  const TBlock* BlockOf(int64_t s) const noexcept;
  TSecondPoint& Point(int64_t s) noexcept;
  void OpenSecond(int64_t timeUs);
  void Start(int64_t s);
  void CloseTenth() noexcept;
  void CloseSecond() noexcept;
  void DropOld();
  void AddPowerChange(int64_t timeUs, uint8_t state);
  void CountDeviceMessage();

  int64_t FCapacity;
  // Only the stretches with data have blocks: a jump of the clock by days
  // costs nothing.
  std::map<int64_t, std::unique_ptr<TBlock>> FBlocks;
  TBlock* FOpenBlock = nullptr;  // the block of FOpen
  int64_t FFirst = 0;            // oldest second held
  int64_t FOpen = 0;             // newest second, still filling unless FFinished
  int64_t FOpenEndUs = 0;
  int64_t FLastUs = 0;
  bool FFinished = false;
  bool FBroken = false;       // a loss since the newest second began: nothing carries over
  uint32_t FDevicesSeen = 0;  // bit per device

  // The tenth of the open second being counted.
  int64_t FTenthEndUs = 0;
  int FTenthsDone = 0;
  uint32_t FTenthBytes = 0;
  uint32_t FTenthItems = 0;
  uint32_t FTenthBad = 0;

  int FCalled = 0;  // address of the last call byte
  std::deque<TPowerChange> FPower;
};
