// Small helpers shared by the command-line tools: strict number parsing for
// option values and signal waiting.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/WideText.h"

#ifndef VANTREL_VERSION
#define VANTREL_VERSION "unknown"
#endif

// The whole text must be a finite decimal number in [low, high].
inline bool ParseDouble(const char* text, double low, double high, double& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < low || v > high) return false;
  out = v;
  return true;
}

// The whole text must be an unsigned decimal integer no larger than high.
inline bool ParseUnsigned(const char* text, uint64_t high, uint64_t& out) {
  if (!text || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || v > high) return false;
  out = v;
  return true;
}
