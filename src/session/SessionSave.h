// Saving a stretch of a traffic history as a capture log after the fact: the
// items of one time go out as one read, a gap or a new connection as a gap,
// so that opening the log frames and times the items as they were.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <vector>
#include "capture/CaptureLog.h"

#include "traffic/TrafficMarks.h"
#include "traffic/TrafficSource.h"

// Items [fromSeq, toSeq) of source (clamped to what it holds) into a new
// capture log at path (".gz": compressed).  False with the cause in error;
// a cancel (checked now and then) also ends it with false and "cancelled".
// done, when given, counts the items written so far (for a progress bar).
// The marks on items of the span go with them.
bool SaveTrafficSpan(const TTrafficSource& source, uint64_t fromSeq, uint64_t toSeq,
                     const std::string& path, const TCaptureHeader& header, std::string& error,
                     const std::atomic<bool>* cancel = nullptr,
                     std::atomic<uint64_t>* done = nullptr,
                     const std::vector<TTrafficMark>& marks = {});
