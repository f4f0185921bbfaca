// What happened on the bus, found as the items come: the power switched,
// the central's current went above a share of its maximum (or back), a
// device that talked went silent (and came back), a burst of bytes nobody
// could place, the line lost for a while.  Each event names the item it
// belongs to (its traffic row) and its time.  Fed one item at a time, like
// TDeviceStats, by the live session and by a stretch of a traffic history.
// No Qt.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <string_view>

#include "bus/BusItem.h"

enum class TEventKind : uint8_t {
  ekPower,   // the power state changed (Value: new state, Previous: old, 0 unknown)
  ekLoad,    // current above the load limit (Value 1) or back below it (Value 0)
  ekSilent,  // a device (Device) that talked has said nothing for the silence limit
  ekBack,    // a silent device talks again (Duration: how long it was silent)
  ekBurst,   // unrecognised bytes, at least the burst limit (Value: bytes so far)
  ekGap,     // the line was lost (Duration: for how long)
};
inline constexpr int kEventKinds = 6;

struct TBusEvent {
  TEventKind Kind = TEventKind::ekPower;
  uint64_t Seq = 0;    // the item it belongs to
  int64_t TimeUs = 0;  // when it happened
  int Device = 0;      // ekSilent, ekBack: 1-31
  int Value = 0;
  int Previous = 0;
  // ekPower: how long the previous state lasted; ekLoad (Value 0): how long
  // the current was above the limit; ekBack: the silence; ekGap: the gap.
  // -1: not known (the previous state began before the first item seen).
  int64_t DurationUs = -1;
  int LoadTenths = 0;  // ekLoad: Ia in tenths of an ampere
  int MaxAmps = 0;     // ekLoad: Im
};

struct TEventLimits {
  int64_t SilenceUs = 5000000;   // a device silent this long is reported
  int LoadPercent = 80;          // current above this share of the maximum
  int BurstBytes = 16;           // unrecognised bytes that make a burst ...
  int64_t BurstGapUs = 1000000;  // ... when none is further than this from the one before
};

// The kind's name in settings and in vantrel-dump ("power", "load", ...)
// and its Czech caption in the window.
const char* EventKindName(TEventKind kind) noexcept;
const char* EventKindCaption(TEventKind kind) noexcept;
bool EventKindFromName(std::string_view name, TEventKind& kind) noexcept;
// A set of kinds as bits (1 << kind), from names joined by ","; unknown
// names go to unknown (joined by ",").
uint32_t EventKindsFromNames(std::string_view names, std::string* unknown = nullptr);
// A comma list of names as bits, bit i for names[i]; names not known are
// collected, comma separated, in unknown.  And back.
uint32_t BitsFromNames(std::string_view list, const char* const names[], int count,
                       std::string* unknown);
std::string NamesOfBits(uint32_t bits, const char* const names[], int count);
std::string EventKindNames(uint32_t kinds);
constexpr uint32_t EventBit(TEventKind kind) { return 1u << static_cast<unsigned>(kind); }

// The event in a line of Czech ("Napájení: zapnuto → $81 (zapnuto trvalo
// 12,5 s)"), without its time; decimalSep as the user's locale has it.
std::string EventText(const TBusEvent& event, std::string_view decimalSep = ".");
// A duration as "850 ms", "12.5 s", "3 min 20 s", "2 h 05 min".
std::string DurationText(int64_t us, std::string_view decimalSep = ".");

class TEventDetector {
public:
  explicit TEventDetector(const TEventLimits& limits = {}) : FLimits(limits) {}

  const TEventLimits& Limits() const noexcept { return FLimits; }

  // One item numbered seq at timeUs; device: the one called before it.
  // Events found go to the sink's back.
  void Take(uint64_t seq, const TBusItem& item, int device, int64_t timeUs, std::string_view bytes,
            std::deque<TBusEvent>& sink);
  // The line was down from fromUs to toUs; nextSeq: the first item after it.
  // Silence is counted from the line's return.
  void Gap(uint64_t nextSeq, int64_t fromUs, int64_t toUs, std::deque<TBusEvent>& sink);
  // No item came, but the clock moved on to nowUs (the window's timer while
  // the line is quiet): devices silent by then are reported.
  void Tick(int64_t nowUs, std::deque<TBusEvent>& sink) { CheckSilence(nowUs, sink); }

private:
  void CheckSilence(int64_t nowUs, std::deque<TBusEvent>& sink);
  void Power(uint64_t seq, int64_t timeUs, uint8_t state, std::deque<TBusEvent>& sink);
  void Status(uint64_t seq, int64_t timeUs, std::string_view bytes, std::deque<TBusEvent>& sink);

  struct TDevice {
    bool Talked = false;
    bool Silent = false;
    uint64_t LastSeq = 0;
    int64_t LastUs = 0;   // its last message
    int64_t HeardUs = 0;  // silence counts from here: the last message or the line's return
  };
  TEventLimits FLimits;
  std::array<TDevice, 32> FDevices{};
  int64_t FNextSilenceUs =
      std::numeric_limits<int64_t>::max();  // no device can be silent before this

  uint8_t FPower = 0;  // 0: not known yet
  int64_t FPowerSinceUs = 0;
  bool FPowerSinceKnown = false;

  bool FOverLoad = false;
  int64_t FOverSinceUs = 0;

  int FBurstBytes = 0;
  bool FBurstSaid = false;
  uint64_t FBurstSeq = 0;
  int64_t FBurstStartUs = 0, FBurstLastUs = 0;
};
