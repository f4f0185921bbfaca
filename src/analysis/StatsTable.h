// The statistics as text: vantrel-dump's table and the CSV file the window
// saves (the graph's CSV convention).  No Qt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/DeviceStats.h"
#include "series/SeriesCsv.h"

// "Centrála" for 0, the address as two hex digits otherwise.
std::string StatsDeviceName(int address);

// A fixed-width table, one line per row that has anything to show (every
// row when all is set), a header first and the totals last.
std::string StatsTableText(const TDeviceStats& stats, const std::vector<TDeviceStats::TRow>& rows,
                           bool all = false);

// The CSV: a header line, then one line per row in the order given.
std::string StatsCsv(const std::vector<TDeviceStats::TRow>& rows, const TCsvFormat& format = {});
