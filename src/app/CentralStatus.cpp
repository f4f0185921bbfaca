#include "app/CentralStatus.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "bus/uVantrelSeq.h"

std::string FormatFixed(double value, int width, int precision, std::string_view decimalSep) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
  std::string text = res.ec == std::errc() ? std::string(buf, res.ptr) : std::string("?");
  if (auto dot = text.find('.'); dot != std::string::npos) text.replace(dot, 1, decimalSep);
  // The field width counts characters, not bytes: a separator may be multi-byte UTF-8.
  int chars = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++chars;
  if (chars < width) text.insert(0, static_cast<size_t>(width - chars), ' ');
  return text;
}

TCentralStatusView FormatCentralStatus(std::string_view message, int maxLoko,
                                       std::string_view decimalSep) {
  TCentralStatusView v;
  if (message.size() == 3) {
    const auto b = static_cast<uint8_t>(message[2]);
    if (b == 0x80) {
      v.Kind = TCentralMsgKind::cmkPower;
      v.PowerCaption = "Napájení zapnuto";
      v.PowerColor = PowerColorOn;
      return v;
    }
    if (b >= 0x81 && b <= 0x83) {
      v.Kind = TCentralMsgKind::cmkPower;
      v.PowerCaption = b == 0x81 ? "$81" : b == 0x82 ? "$82" : "$83";
      v.PowerColor = PowerColorOff;
      return v;
    }
  } else if (message.size() == 7) {
    std::string typeText, firmwareText;
    int freeLoco = 0;
    double ia = 0, im = 0;
    if (DecodeCentralStatus(message, typeText, firmwareText, freeLoco, ia, im)) {
      v.Kind = TCentralMsgKind::cmkStatus;
      v.Central = "Centrála: " + typeText;
      v.Firmware = "Firmware: " + firmwareText;
      v.ProudA = "Ia = " + FormatFixed(ia, 5, 1, decimalSep) + " A";
      v.ProudM = "Im = " + FormatFixed(im, 5, 1, decimalSep) + " A";
      v.HasLoad = im != 0;
      if (v.HasLoad) v.ProudP = "Ip = " + FormatFixed(100.0 * ia / im, 6, 2, decimalSep) + " %";
      v.VolAdr = std::to_string(maxLoko - freeLoco) + "L (" + std::to_string(freeLoco) + "volných)";
      return v;
    }
  }
  v.Kind = TCentralMsgKind::cmkLog;
  v.LogLine = MessageToHex(message);
  return v;
}
