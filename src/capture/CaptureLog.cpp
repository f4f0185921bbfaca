// The capture log format: writing and parsing its lines.
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

namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// n digits at text[at]; false when there are not.
bool Digits(std::string_view text, std::size_t at, int n, int& value) {
  if (at + static_cast<std::size_t>(n) > text.size()) return false;
  value = 0;
  for (int i = 0; i < n; ++i) {
    const char c = text[at + static_cast<std::size_t>(i)];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

bool ParseCaptureTime(std::string_view text, int64_t& us) {
  // YYYY-MM-DDTHH:MM:SS[.ffffff]Z
  int year, month, day, hour, minute, second;
  if (!Digits(text, 0, 4, year) || text.size() < 20 || text[4] != '-' ||
      !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day) || text[10] != 'T' ||
      !Digits(text, 11, 2, hour) || text[13] != ':' || !Digits(text, 14, 2, minute) ||
      text[16] != ':' || !Digits(text, 17, 2, second))
    return false;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return false;
  std::size_t at = 19;
  int64_t micro = 0;
  if (text[at] == '.') {
    int decimals = 0;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++decimals) {
      if (decimals == 6) return false;
      micro = micro * 10 + (text[at] - '0');
    }
    if (decimals == 0) return false;
    for (; decimals < 6; ++decimals) micro *= 10;
  }
  if (at + 1 != text.size() || text[at] != 'Z') return false;
  us = ((DaysFromCivil(year, month, day) * 24 + hour) * 60 + minute) * 60 + second;
  us = us * 1000000 + micro;
  return true;
}

bool IsCompressedCaptureName(std::string_view path) {
  return path.size() > 3 && path.substr(path.size() - 3) == ".gz";
}

std::string CaptureMarkText(std::string_view text) {
  std::string clean = capture_io::CleanText(text);
  std::size_t end = clean.size();
  if (end > kCaptureMaxMarkText) {
    end = kCaptureMaxMarkText;
    // Not inside a character: back to the start of the one cut.
    while (end > 0 && (static_cast<unsigned char>(clean[end]) & 0xC0) == 0x80) --end;
  }
  std::size_t begin = 0;
  while (begin < end && (clean[begin] == ' ')) ++begin;
  while (end > begin && (clean[end - 1] == ' ')) --end;
  return clean.substr(begin, end - begin);
}

std::string FormatCaptureMark(int64_t us, std::string_view text) {
  std::string value = FormatCaptureTime(us);
  const std::string clean = CaptureMarkText(text);
  if (!clean.empty()) value.append(" ").append(clean);
  return value;
}

bool ParseCaptureMark(std::string_view value, int64_t& us, std::string& text) {
  const std::size_t blank = value.find(' ');
  if (!ParseCaptureTime(value.substr(0, blank), us)) return false;
  text.assign(blank == value.npos ? std::string_view() : value.substr(blank + 1));
  return true;
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
