// Small helpers shared by the command-line tools: strict number parsing for
// option values and signal waiting.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/WideText.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first
#include <shellapi.h>

#include <vector>
#endif

#ifndef VANTREL_VERSION
#define VANTREL_VERSION "unknown"
#endif

#ifdef _WIN32
// Replaces main's arguments with the command line in UTF-8, the text the
// tools work in: Windows hands main the ANSI code page, which cannot hold
// every file name.  The texts live until the program ends.
inline void UseUtf8Arguments(int& argc, char**& argv) {
  static std::vector<std::string> texts;
  static std::vector<char*> pointers;
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (!wide) return;
  for (int i = 0; i < n; ++i) texts.push_back(Narrow(wide[i]));
  LocalFree(wide);
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  argc = n;
  argv = pointers.data();
}
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
