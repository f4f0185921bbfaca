// TDeviceStats: who talks on the bus and how much, for the 31 devices and
// the central.  Fed one item at a time (the live session, or a stretch of a
// traffic history), so that it costs a few additions per item and no memory
// in proportion to the traffic.
//
// What is counted where: a device's messages are the items the session
// attributes to it (a message of a known kind after its call byte); the
// central's are its own messages (first byte 00).  A device's bytes are its
// messages' bytes; the central's also count the call bytes and the idle
// byte it sends.  Unrecognised bytes (damaged runs and lone bytes) that come
// right after a device's call byte are counted against that device.
// No Qt.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "bus/BusItem.h"

class TDeviceStats {
public:
  static constexpr int kDeviceCount = 31;
  static constexpr int kRows = kDeviceCount + 1;  // 0: the central, 1-31: the devices
  static constexpr int kRecentSeconds = 10;       // "per second now" looks this far back

  struct TCounts {
    uint64_t Messages = 0;
    uint64_t Bytes = 0;
    uint64_t Calls = 0;               // call bytes addressed to it (devices only)
    uint64_t UnrecognisedBytes = 0;   // right after its call byte (devices only)
    int64_t FirstUs = 0, LastUs = 0;  // its first and last message; valid when Messages > 0
    uint64_t FirstSeq = 0, LastSeq = 0;
    // Messages per whole second of the last kRecentSeconds up to RecentSecond.
    std::array<uint32_t, kRecentSeconds> Recent{};
    int64_t RecentSecond = 0;
  };

  // One row as shown, figured at a moment.
  struct TRow {
    int Address = 0;  // 0: the central
    uint64_t Messages = 0, Calls = 0, Bytes = 0, UnrecognisedBytes = 0;
    double RateNow = 0;               // messages per second over the last kRecentSeconds
    double RateAverage = 0;           // messages per second since the statistics began
    int64_t FirstUs = 0, LastUs = 0;  // 0: never heard
    uint64_t FirstSeq = 0, LastSeq = 0;
    int64_t SinceLastUs = -1;  // -1: never heard
    double BytesShare = 0;     // % of every byte on the bus
    bool Silent = false;       // talked, then nothing for longer than the limit
  };

  // One item numbered seq, received at timeUs (times should not go back).
  void Take(uint64_t seq, const TBusItem& item, int device, int64_t timeUs,
            std::size_t length) noexcept {
    if (FItems == 0) FStartUs = timeUs;
    ++FItems;
    FBytes += length;
    FEndUs = timeUs;
    FEndSeq = seq + 1;
    const bool afterCall = FAfterCall;
    const int called = FCalled;
    FAfterCall = false;
    switch (item.Kind) {
      case TItemKind::ikCallByte:
        FRows[0].Bytes += length;
        if (item.Address >= 1 && item.Address <= kDeviceCount) {
          ++FRows[item.Address].Calls;
          FAfterCall = true;
          FCalled = item.Address;
        }
        return;
      case TItemKind::ikIdle:
        FRows[0].Bytes += length;
        return;
      case TItemKind::ikLoneByte:
      case TItemKind::ikUnrecognised:
        FUnrecognised += length;
        if (afterCall) FRows[called].UnrecognisedBytes += length;
        return;
      case TItemKind::ikCentralPower:
      case TItemKind::ikCentralStatus:
      case TItemKind::ikCentralOther:
        Message(FRows[0], seq, timeUs, length);
        return;
      case TItemKind::ikDevice:
        if (device >= 1 && device <= kDeviceCount) Message(FRows[device], seq, timeUs, length);
        return;
      case TItemKind::ikNone:
        return;
    }
  }

  // Forgets everything.
  void Clear() noexcept { *this = TDeviceStats(); }

  const TCounts& Counts(int address) const noexcept { return FRows[address]; }
  uint64_t Items() const noexcept { return FItems; }
  uint64_t Bytes() const noexcept { return FBytes; }
  uint64_t UnrecognisedBytes() const noexcept { return FUnrecognised; }
  int64_t StartUs() const noexcept { return FStartUs; }  // the first item's time
  int64_t EndUs() const noexcept { return FEndUs; }      // the last item's time
  uint64_t EndSeq() const noexcept { return FEndSeq; }   // after the last item taken

  // The 32 rows at nowUs (the present while live, the end of a stretch of
  // history): silent are those heard before whose last message is more than
  // silenceUs before nowUs.
  std::vector<TRow> Rows(int64_t nowUs, int64_t silenceUs) const;

private:
  void Message(TCounts& row, uint64_t seq, int64_t timeUs, std::size_t length) noexcept {
    if (row.Messages == 0) {
      row.FirstUs = timeUs;
      row.FirstSeq = seq;
    }
    ++row.Messages;
    row.Bytes += length;
    row.LastUs = timeUs;
    row.LastSeq = seq;
    const int64_t second = FloorSecond(timeUs);
    if (second != row.RecentSecond) AdvanceRecent(row, second);
    ++row.Recent[static_cast<std::size_t>(Slot(second))];
  }
  static int64_t FloorSecond(int64_t us) noexcept {
    return us >= 0 ? us / 1000000 : -((-us + 999999) / 1000000);
  }
  static int64_t Slot(int64_t second) noexcept {
    const int64_t s = second % kRecentSeconds;
    return s < 0 ? s + kRecentSeconds : s;
  }
  static void AdvanceRecent(TCounts& row, int64_t second) noexcept;
  static uint64_t RecentMessages(const TCounts& row, int64_t nowSecond) noexcept;

  std::array<TCounts, kRows> FRows{};
  uint64_t FItems = 0, FBytes = 0, FUnrecognised = 0;
  int64_t FStartUs = 0, FEndUs = 0;
  uint64_t FEndSeq = 0;
  bool FAfterCall = false;
  int FCalled = 0;
};
