// What the main window's status panel shows for one central message (first
// byte 0x00).  Qt-free so that the headless monitor prints exactly the texts
// the window shows; the caller passes the decimal separator of its locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How the window treats one central message.
enum class TCentralMsgKind {
  cmkPower,   // three bytes, third byte 0x80-0x83: power panel text and colour
  cmkStatus,  // seven bytes: the six status labels
  cmkLog,     // anything else: one line of hex text in the log, no label changes
};

struct TCentralStatusView {
  TCentralMsgKind Kind = TCentralMsgKind::cmkLog;

  // cmkPower
  std::string PowerCaption;  // "Napájení zapnuto", "$81", "$82", "$83"
  uint32_t PowerColor = 0;   // 0xRRGGBB: pure green when on, pure red otherwise

  // cmkStatus
  std::string Central;   // "Centrála: KV8"
  std::string Firmware;  // "Firmware: 1.3"
  std::string ProudA;    // "Ia =   4.5 A"
  std::string ProudM;    // "Im =  12.0 A"
  bool HasLoad = false;  // false when the maximum current is 0: keep the old label
  std::string ProudP;    // "Ip =  37.50 %"
  std::string VolAdr;    // "12L (4volných)"

  // cmkLog
  std::string LogLine;  // hex text of the whole message
};

inline constexpr uint32_t PowerColorOn = 0x00FF00;
inline constexpr uint32_t PowerColorOff = 0xFF0000;

// "%<width>.<precision>f" with the given decimal separator, independent of the
// process's C locale (the GUI toolkit changes that at start).
std::string FormatFixed(double value, int width, int precision, std::string_view decimalSep);

// Formats a central message (first byte 0x00, any length) as the window shows it.
TCentralStatusView FormatCentralStatus(std::string_view message, int maxLoko,
                                       std::string_view decimalSep);
