// Local time the same way on every platform, thread-safe.
#pragma once

#include <cstdint>
#include <ctime>

// The broken-down local time of t; false when the system has none.
bool ToLocalTime(std::time_t t, std::tm& out);

// How many seconds local time is ahead of UTC at t (daylight saving time
// included); 0 when unknown.
int64_t LocalOffsetSeconds(std::time_t t);
