// The series as CSV: one line a second, comma-separated with a point as the
// decimal separator (or as TCsvFormat says), UTF-8, a header line first.  Columns: local time
// ("YYYY-MM-DD HH:MM:SS"), seconds since the epoch, the present current (A:
// at the end of the second, lowest, highest), the maximum current (A), the
// load (%), the power state ("zapnuto", "$81"-"$83"; the state other than
// "on" when there was one during the second), then bytes/s, items/s and
// unrecognised bytes/s, each as the second's total and the fewest and most
// in a tenth of the second times ten, and, when a device is given, its
// messages/s.  A second without data has only its two time cells; unknown
// values (no status yet, no load when Im is 0) are empty cells.
#pragma once

#include <cstdint>
#include <string>

#include "series/SeriesStore.h"

// The separators of the file: comma and point by default; where the user's
// decimal separator is a comma, semicolons between fields, as spreadsheets
// of such regions expect.
struct TCsvFormat {
  char Separator = ',';
  char Decimal = '.';
};
TCsvFormat CsvFormatFor(char decimalPoint);

std::string SeriesCsvHeader(int device, const TCsvFormat& format = {});
// Appends the lines of the complete seconds of [fromSecond, endSecond) held.
void AppendSeriesCsv(const TSeriesStore& store, int64_t fromSecond, int64_t endSecond, int device,
                     std::string& out, const TCsvFormat& format = {});
// Writes header and lines to path, replacing the file there only when all
// was written.  False with the cause ("Permission denied") in error; the old
// file is then kept and nothing is left behind.
bool SaveSeriesCsv(const TSeriesStore& store, int64_t fromSecond, int64_t endSecond, int device,
                   const std::string& path, std::string& error, const TCsvFormat& format = {});

// The same convention for the program's other tables (the statistics): the
// local time cell, numbers with decimals, and saving.
void AppendCsvLocalTime(std::string& out, int64_t second);
void AppendCsvDecimal(std::string& out, double value, int decimals, const TCsvFormat& format = {});
// Writes text to path whole or not at all (as SaveSeriesCsv).
bool SaveCsvText(const std::string& text, const std::string& path, std::string& error);
