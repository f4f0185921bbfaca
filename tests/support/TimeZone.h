// Local time as UTC for the rest of the test program, so that times shown as
// local read the same on every machine.
#pragma once

#include <cstdlib>
#include <ctime>

inline void UseUtcAsLocalTime() {
#ifdef _WIN32
  _putenv_s("TZ", "UTC0");
  _tzset();
#else
  ::setenv("TZ", "UTC", 1);
  ::tzset();
#endif
}
