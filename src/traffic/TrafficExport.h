// Saving the traffic history as text: vantrel-dump's lines, so that a saved
// view and a dump of the same traffic can be compared line by line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "traffic/TrafficFilter.h"
#include "traffic/TrafficSource.h"

// Produces the lines of the given rows (every item held when rows is null)
// with the time prefix of mode: "d" counts from the previous line written,
// "z" from the start of the item's session.  Each line goes to sink without
// its line end; sink returns false to stop (the result is then false too).
bool TrafficLines(const TTrafficSource& ring, const TTrafficIndex* rows, TTimeMode mode,
                  int maxLoko, const std::function<bool(std::string_view)>& sink);

// Writes those lines to the file at path, each ended by "\n".  The file is
// replaced only when everything was written: the text goes to a temporary
// file beside it first.  On failure error is the cause ("Permission
// denied") and nothing is left behind.
bool ExportTraffic(const TTrafficSource& ring, const TTrafficIndex* rows, TTimeMode mode,
                   int maxLoko, const std::string& path, std::string& error,
                   uint64_t* lineCount = nullptr);
