// What the traffic history needs to know of one item: its kind and the texts
// vantrel-dump prints for it.  A thin layer over the shared item texts, so
// that the window's traffic view and its export print exactly the dump's
// lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "DumpFormat.h"

// What an item is, as the window routes it.  Stored per item as a small
// integer; the order is the order of the view's kind filter.
enum class TTrafficKind : uint8_t {
  tkCallByte,      // a call byte: device address and activity
  tkIdleByte,      // the lone idle byte 1F, ignored by the window
  tkLoneByte,      // any other lone byte: the window logs it
  tkPower,         // central power state (3 bytes, 80-83)
  tkStatus,        // central status (7 bytes)
  tkCentralOther,  // any other central message: logged
  tkDevice,        // a device message, framed whole
  tkUnrecognised,  // a run the framing could not place, or a message cut short
};
inline constexpr int kTrafficKindCount = 8;

TTrafficKind TrafficKindOf(std::string_view item);

// The dump's line for an item without time: hex, then a tab and the text
// when there is one.
std::string TrafficItemLine(std::string_view item, int maxLoko);

// The dump's time prefix ("(012.345678) "), empty for tmNone.
std::string TrafficTimePrefix(TTimeMode mode, int64_t nowUs, int64_t previousUs, int64_t startUs);
