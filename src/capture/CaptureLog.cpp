#include "capture/CaptureLog.h"

#include <time.h>

#include <cstdio>
#include <cstring>

#include "capture/CaptureIo.h"

namespace {

// Length of the valid UTF-8 sequence at s[i], 0 when there is none.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;  // overlong
    if (c == 0xED) hi = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;  // overlong
    if (c == 0xF4) hi = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return 0;
  }
  return n;
}

}  // namespace

std::string FormatCaptureTime(int64_t us) {
  if (us < 0) us = 0;
  const time_t seconds = static_cast<time_t>(us / 1000000);
  tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(us % 1000000));
  return text;
}

bool IsCompressedCaptureName(std::string_view path) {
  return path.size() > 3 && path.substr(path.size() - 3) == ".gz";
}

namespace capture_io {

std::string CleanText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c));
      ++i;
    } else if (const std::size_t n = Utf8Length(text, i)) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out.push_back('?');
      ++i;
    }
  }
  return out;
}

}  // namespace capture_io
