#include "traffic/TrafficText.h"

#include <cstdio>

#include "bus/uVantrelSeq.h"

std::string TrafficItemLine(std::string_view item, int maxLoko) {
  std::string line = MessageToHex(item);
  if (!line.empty()) line.pop_back();  // the final blank
  // Always a point: the output is for logs and scripts, not for a locale.
  if (const std::string text = ItemText(item, maxLoko); !text.empty()) line += "\t" + text;
  return line;
}

std::string TrafficTimePrefix(TTimeMode mode, int64_t nowUs, int64_t previousUs, int64_t startUs) {
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
  // Ten digits of seconds since the epoch, three otherwise.
  std::snprintf(buf, sizeof buf, "(%0*lld.%06lld) ", mode == TTimeMode::tmAbsolute ? 10 : 3,
                static_cast<long long>(t / 1000000), static_cast<long long>(t % 1000000));
  return buf;
}
