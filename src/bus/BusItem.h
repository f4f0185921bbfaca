// What one item taken from the message queue is, and the texts the monitors
// show for it.  The window, vantrel-dump and the traffic view all route items
// by ClassifyItem, so they differ only in how they show an item, never in
// what it is.  The texts are UTF-8; the caller passes the decimal separator
// of its locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class TItemKind : uint8_t {
  ikNone,           // empty: nothing to show
  ikCallByte,       // a call byte: Address 1-31 and Active
  ikIdle,           // the lone byte 0x1F: ignored
  ikLoneByte,       // any other single byte: one line in the log
  ikCentralPower,   // 00 s s, s = 0x80-0x83 (Power): the power panel
  ikCentralStatus,  // 00 and six more bytes: the six status labels
  ikCentralOther,   // any other message of the central: one line in the log
  ikDevice,         // a message of a kind of the length table: the last message
                    // of the device called last
  ikUnrecognised,   // two bytes or more of no known kind (damaged data):
                    // treated as a device message
};

struct TBusItem {
  TItemKind Kind = TItemKind::ikNone;
  uint8_t Address = 0;  // ikCallByte
  bool Active = false;  // ikCallByte
  uint8_t Power = 0;    // ikCentralPower
};

TBusItem ClassifyItem(std::string_view item) noexcept;

// The grid's texts of a device: "ano" / "ne", and the address as "%2.2X".
const char* ActiveText(bool active) noexcept;
std::string DeviceIdText(int address);

// What the status panel shows for a central message (first byte 0x00).
struct TCentralStatusView {
  TItemKind Kind = TItemKind::ikNone;  // ClassifyItem's

  // ikCentralPower
  std::string PowerCaption;  // "Napájení zapnuto", "$81", "$82", "$83"
  uint32_t PowerColor = 0;   // 0xRRGGBB: pure green when on, pure red otherwise

  // ikCentralStatus
  std::string Central;   // "Centrála: KV8"
  std::string Firmware;  // "Firmware: 1.3"
  std::string ProudA;    // "Ia =   4.5 A"
  std::string ProudM;    // "Im =  12.0 A"
  bool HasLoad = false;  // false when the maximum current is 0: keep the old label
  std::string ProudP;    // "Ip =  37.50 %"
  std::string VolAdr;    // "12L (4volných)"

  // any other kind: the log's line, hex text of the whole message
  std::string LogLine;
};

inline constexpr uint32_t PowerColorOn = 0x00FF00;
inline constexpr uint32_t PowerColorOff = 0xFF0000;

// "%<width>.<precision>f" with the given decimal separator, independent of the
// process's C locale (the GUI toolkit changes that at start).
std::string FormatFixed(double value, int width, int precision, std::string_view decimalSep);

TCentralStatusView FormatCentralStatus(std::string_view message, int maxLoko,
                                       std::string_view decimalSep);

// The text shown beside an item's hex text: a device message's comment, the
// called device and its activity ("01 ano"), the power caption, the six
// status labels joined by "; " (the load only when Im is not 0), "log" for
// what the window writes to its log, nothing for the idle byte.
std::string ItemText(std::string_view item, int maxLoko, std::string_view decimalSep = ".");
