#include "traffic/TrafficText.h"

#include "bus/uVantrelSeq.h"

TTrafficKind TrafficKindOf(std::string_view item) {
  if (item.size() == 1) {
    const auto b = static_cast<uint8_t>(item[0]);
    if (IsCallByte(b)) return TTrafficKind::tkCallByte;
    return b == 0x1F ? TTrafficKind::tkIdleByte : TTrafficKind::tkLoneByte;
  }
  if (item.empty()) return TTrafficKind::tkUnrecognised;
  if (item[0] == '\0') {
    const auto b3 = item.size() == 3 ? static_cast<uint8_t>(item[2]) : 0;
    if (item.size() == 3 && b3 >= 0x80 && b3 <= 0x83) return TTrafficKind::tkPower;
    return item.size() == 7 ? TTrafficKind::tkStatus : TTrafficKind::tkCentralOther;
  }
  // What the checked rule would cut from these bytes alone: the item itself
  // when it is a whole message.
  return CheckedMessageLength(item) == static_cast<int>(item.size()) ? TTrafficKind::tkDevice
                                                                     : TTrafficKind::tkUnrecognised;
}

std::string TrafficItemLine(std::string_view item, int maxLoko) {
  return DumpItemText(item, maxLoko);
}

std::string TrafficTimePrefix(TTimeMode mode, int64_t nowUs, int64_t previousUs, int64_t startUs) {
  return DumpTimePrefix(mode, nowUs, previousUs, startUs);
}
