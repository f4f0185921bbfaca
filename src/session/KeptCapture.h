// A converted capture kept for the next time it is opened.  Converting a
// long capture means reading every item (seconds for a day's log); the
// session store it becomes stays in the cache folder, and beside it one file,
// "ready", with all the rest the window shows without reading the items: the
// per-second series, the state snapshots, the marks, what the capture's
// header said, and the capture file's identity (path, size, modification
// time, a hash of its first and last 64 KB, and how it was read).
//
// "ready" is written whole or not at all, after the store is complete: a
// folder without one (a conversion cancelled, killed, or still running in
// another window) is never reused.  Its body carries a version and a
// checksum, so a torn or foreign file is refused, not trusted.
//
// No Qt.
#pragma once

#include <cstdint>
#include <string>

#include "series/SeriesStore.h"
#include "traffic/BusState.h"
#include "traffic/TrafficMarks.h"

// Converted captures kept at most: a few, since each may take as much disk as
// its capture's items and a user comes back to the last ones or none.
inline constexpr int kKeptCaptures = 3;

struct TCaptureIdentity {
  std::string Path;
  uint64_t Size = 0;
  int64_t ModifiedUs = 0;
  uint64_t ContentHash = 0;  // of the first and the last 64 KB
  uint64_t Reading = 0;      // how it was read (a raw capture's line speed, the graph's span)
  bool operator==(const TCaptureIdentity&) const = default;
};

// The file at path as it is now (Reading left 0); false when it cannot be
// read.
bool ReadCaptureIdentity(const std::string& path, TCaptureIdentity& identity);

// All that is kept beside the store.
struct TKeptCapture {
  // What the capture said and how reading it ended.
  bool IsLog = false;
  std::string Port, Line, Program;
  int64_t StartUs = 0, EndUs = 0;
  uint64_t Gaps = 0;
  uint64_t MalformedLines = 0, FirstMalformedLine = 0;
  std::string FirstMalformedReason;
  bool Truncated = false;
  // The store's totals (not counted again on reopening) and its size on
  // disk (a store changed since is not reused).
  uint64_t TotalBytes = 0, UnrecognisedBytes = 0, DiskBytes = 0;
  TTrafficMarks Marks;
};

// Writes folder's "ready" file; false with the cause in error.
bool SaveKeptCapture(const std::string& folder, const TCaptureIdentity& identity,
                     const TKeptCapture& kept, const TSeriesStore& series,
                     const TStateHistory& states, std::string& error);

enum class TKeptMatch {
  kmNone,     // no whole "ready" file: not a kept capture
  kmOther,    // kept for another file
  kmChanged,  // kept for this file as it was before it changed
  kmLoaded,   // kept for this file as it is: kept, series and states filled
};
// Reads folder's "ready" file and, when it was kept for want, what it holds.
// series is to be empty and made with the capacity it was saved with.
TKeptMatch LoadKeptCapture(const std::string& folder, const TCaptureIdentity& want,
                           TKeptCapture& kept, TSeriesStore& series, TStateHistory& states);

// Removes the converted captures under root that are not in use and not
// whole, then the oldest until keep are left.
void TrimKeptCaptures(const std::string& root, int keep);
