// The line vantrel-dump prints for one item taken from the message queue:
// the traffic history's line (traffic/TrafficText.h, format described
// there), so that the dump and the window's saved traffic agree line by line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "traffic/TrafficText.h"

inline std::string DumpItemText(std::string_view item, int maxLoko) {
  return TrafficItemLine(item, maxLoko);
}

inline std::string DumpTimePrefix(TTimeMode mode, int64_t nowUs, int64_t previousUs,
                                  int64_t startUs) {
  return TrafficTimePrefix(mode, nowUs, previousUs, startUs);
}
