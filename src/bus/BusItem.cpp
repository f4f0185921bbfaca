// Classifying a queued item and the texts the monitors show of it.
#include "bus/BusItem.h"

#include <charconv>
#include <system_error>

#include "bus/uVantrelSeq.h"

TBusItem ClassifyItem(std::string_view item) noexcept {
  TBusItem r;
  if (item.empty()) return r;
  const auto b = static_cast<uint8_t>(item[0]);
  if (item.size() == 1) {
    if (IsCallByte(b)) {
      r.Kind = TItemKind::ikCallByte;
      r.Address = b & 0x1F;
      r.Active = (b & 0x40) != 0;
    } else {
      r.Kind = b == 0x1F ? TItemKind::ikIdle : TItemKind::ikLoneByte;
    }
  } else if (b == 0x00) {
    const auto state = item.size() == 3 ? static_cast<uint8_t>(item[2]) : 0;
    r.Kind = state >= 0x80 && state <= 0x83 ? TItemKind::ikCentralPower
             : item.size() == 7             ? TItemKind::ikCentralStatus
                                            : TItemKind::ikCentralOther;
    r.Power = r.Kind == TItemKind::ikCentralPower ? state : 0;
  } else {
    r.Kind =
        MessageLength(item.substr(0, 1)) != 0 ? TItemKind::ikDevice : TItemKind::ikUnrecognised;
  }
  return r;
}

const char* ActiveText(bool active) noexcept { return active ? "ano" : "ne"; }

std::string DeviceIdText(int address) {
  return MessageToHex(std::string(1, static_cast<char>(address))).substr(0, 2);
}

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
  const TBusItem item = ClassifyItem(message);
  v.Kind = item.Kind;
  if (item.Kind == TItemKind::ikCentralPower) {
    const bool on = item.Power == 0x80;
    v.PowerCaption = on ? "Napájení zapnuto" : "$" + MessageToHex(message.substr(2)).substr(0, 2);
    v.PowerColor = on ? PowerColorOn : PowerColorOff;
  } else if (item.Kind == TItemKind::ikCentralStatus) {
    std::string typeText, firmwareText;
    int freeLoco = 0;
    double ia = 0, im = 0;
    // Seven bytes: it never fails.
    DecodeCentralStatus(message, typeText, firmwareText, freeLoco, ia, im);
    v.Central = "Centrála: " + typeText;
    v.Firmware = "Firmware: " + firmwareText;
    v.ProudA = "Ia = " + FormatFixed(ia, 5, 1, decimalSep) + " A";
    v.ProudM = "Im = " + FormatFixed(im, 5, 1, decimalSep) + " A";
    v.HasLoad = im != 0;
    if (v.HasLoad) v.ProudP = "Ip = " + FormatFixed(100.0 * ia / im, 6, 2, decimalSep) + " %";
    v.VolAdr = std::to_string(maxLoko - freeLoco) + "L (" + std::to_string(freeLoco) + "volných)";
  } else {
    v.LogLine = MessageToHex(message);
  }
  return v;
}

std::string ItemText(std::string_view item, int maxLoko, std::string_view decimalSep) {
  const TBusItem kind = ClassifyItem(item);
  switch (kind.Kind) {
    case TItemKind::ikCallByte:
      return DeviceIdText(kind.Address) + ' ' + ActiveText(kind.Active);
    case TItemKind::ikLoneByte:
    case TItemKind::ikCentralOther:
      return "log";
    case TItemKind::ikCentralPower:
      return FormatCentralStatus(item, maxLoko, decimalSep).PowerCaption;
    case TItemKind::ikCentralStatus: {
      const TCentralStatusView v = FormatCentralStatus(item, maxLoko, decimalSep);
      return v.Central + "; " + v.Firmware + "; " + v.ProudA + "; " + v.ProudM + "; " +
             (v.HasLoad ? v.ProudP + "; " : "") + v.VolAdr;
    }
    case TItemKind::ikDevice:
    case TItemKind::ikUnrecognised:
      return MessageComment(item);
    case TItemKind::ikNone:
    case TItemKind::ikIdle:
      break;
  }
  return {};
}
