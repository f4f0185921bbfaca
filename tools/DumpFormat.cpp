#include "DumpFormat.h"

#include <cstdio>

#include "app/CentralStatus.h"
#include "bus/uVantrelSeq.h"

std::string DumpItemText(std::string_view item, int maxLoko) {
  std::string line = MessageToHex(item);
  if (!line.empty()) line.pop_back();  // the final blank
  std::string text;
  if (item.size() == 1) {
    const auto b = static_cast<uint8_t>(item[0]);
    if (IsCallByte(b)) {
      char id[8];
      std::snprintf(id, sizeof id, "%2.2X ", b & 0x1Fu);
      text = std::string(id) + ((b & 0x40) ? "ano" : "ne");
    } else if (b != 0x1F) {
      text = "log";
    }
  } else if (!item.empty() && item[0] == '\0') {
    // Always a point: the output is for logs and scripts, not for a locale.
    const TCentralStatusView v = FormatCentralStatus(item, maxLoko, ".");
    switch (v.Kind) {
      case TCentralMsgKind::cmkPower:
        text = v.PowerCaption;
        break;
      case TCentralMsgKind::cmkStatus:
        text = v.Central + "; " + v.Firmware + "; " + v.ProudA + "; " + v.ProudM + "; ";
        if (v.HasLoad) text += v.ProudP + "; ";
        text += v.VolAdr;
        break;
      case TCentralMsgKind::cmkLog:
        text = "log";
        break;
    }
  } else {
    text = MessageComment(item);
  }
  if (!text.empty()) line += "\t" + text;
  return line;
}

std::string DumpTimePrefix(TTimeMode mode, int64_t nowUs, int64_t previousUs, int64_t startUs) {
  int64_t t = 0;
  switch (mode) {
    case TTimeMode::tmNone:
      return {};
    case TTimeMode::tmAbsolute:
      t = nowUs;
      break;
    case TTimeMode::tmDelta:
      t = previousUs ? nowUs - previousUs : 0;
      break;
    case TTimeMode::tmZero:
      t = nowUs - startUs;
      break;
  }
  if (t < 0) t = 0;
  char buf[48];
  if (mode == TTimeMode::tmAbsolute)
    std::snprintf(buf, sizeof buf, "(%010lld.%06lld) ", static_cast<long long>(t / 1000000),
                  static_cast<long long>(t % 1000000));
  else
    std::snprintf(buf, sizeof buf, "(%03lld.%06lld) ", static_cast<long long>(t / 1000000),
                  static_cast<long long>(t % 1000000));
  return buf;
}
