// The line vantrel-dump prints for one item taken from the message queue.
//
// Format, one item per line:
//   [TIME ]HEX[<TAB>TEXT]
//   TIME  "(seconds.microseconds) " with --time: since the epoch (a), since
//         the previous line (d) or since the start (z)
//   HEX   the item's bytes as two upper-case hex digits each, blank-separated
//   TEXT  what the window makes of the item:
//         device message   its comment ("Vyhybka 2 L T"); no tab when it has none
//         call byte        the device ID and its activity ("01 ano", "1F ne")
//         central message  the power panel caption, or the six status labels
//                          joined by "; " (the load label only when Im is not 0)
//         anything the window would write to its log: "log"
//         the lone idle byte 1F, which the window ignores: no text
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

std::string DumpItemText(std::string_view item, int maxLoko);

enum class TTimeMode { tmNone, tmAbsolute, tmDelta, tmZero };

// Times in microseconds; absolute ones since the epoch.
std::string DumpTimePrefix(TTimeMode mode, int64_t nowUs, int64_t previousUs, int64_t startUs);
