// The line of text one item gives, as vantrel-dump prints it and the traffic
// view saves it: one function for both, so that a saved view and a dump of
// the same traffic can be compared line by line.
//
// Format, one item per line:
//   [TIME ]HEX[<TAB>TEXT]
//   TIME  "(seconds.microseconds) ": since the epoch (a), since the previous
//         line (d) or since the start (z)
//   HEX   the item's bytes as two upper-case hex digits each, blank-separated
//   TEXT  what the window makes of the item (ItemText, bus/BusItem.h): a
//         device comment ("Vyhybka 2 L T"), the called device and its
//         activity ("01 ano"), the power caption or the status labels, "log";
//         no tab when there is no text (the idle byte 1F, a message without
//         comment)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bus/BusItem.h"

enum class TTimeMode { tmNone, tmAbsolute, tmDelta, tmZero };

// HEX and TEXT of an item, without time.
std::string TrafficItemLine(std::string_view item, int maxLoko);

// TIME with its blank, empty for tmNone.  Times in microseconds; absolute
// ones since the epoch.  A delta without a previous line (previousUs 0) is 0.
std::string TrafficTimePrefix(TTimeMode mode, int64_t nowUs, int64_t previousUs, int64_t startUs);

// The same texts appended to out: a dump of a busy line makes millions of
// lines, most of them single bytes, so these build them without temporaries.
void AppendTrafficItemLine(std::string& out, std::string_view item, int maxLoko);
void AppendTrafficTimePrefix(std::string& out, TTimeMode mode, int64_t nowUs, int64_t previousUs,
                             int64_t startUs);

// The kinds an item of the history can have (ClassifyItem's, all but
// ikNone); kind k is bit k of a filter's mask.
inline constexpr int kFirstKind = static_cast<int>(TItemKind::ikCallByte);
inline constexpr int kLastKind = static_cast<int>(TItemKind::ikUnrecognised);
inline constexpr int kKindSlots = kLastKind + 1;
