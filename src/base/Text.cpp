// Integer text and system error text.
#include "base/Text.h"

#include <cstring>

namespace {

// glibc offers the GNU strerror_r (returns the text), others the XSI one
// (fills the buffer); take whichever this library declares.
[[maybe_unused]] const char* PickErrorText(int result, const char* buffer) {
  return result == 0 ? buffer : "";
}
[[maybe_unused]] const char* PickErrorText(const char* result, const char*) {
  return result ? result : "";
}

}  // namespace

bool ParseInteger(std::string_view s, int32_t& value) noexcept {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  bool hex = false, negative = false;
  if (s.starts_with("0x") || s.starts_with("0X")) {
    hex = true;
    s.remove_prefix(2);
  } else if (!s.empty() && (s[0] == '$' || s[0] == 'x' || s[0] == 'X')) {
    hex = true;
    s.remove_prefix(1);
  } else if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  uint64_t v = 0;
  for (const char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFull) return false;
  }
  if (hex)
    value = static_cast<int32_t>(static_cast<uint32_t>(v));
  else if (v <= (negative ? 0x80000000ull : 0x7FFFFFFFull))
    value = static_cast<int32_t>(negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v));
  else
    return false;
  return true;
}

std::string SystemErrorText(int err) {
  char buffer[256] = {};
#ifdef _WIN32
  // The C library's text for an errno value (Windows has no strerror_r).
  std::string text = strerror_s(buffer, sizeof buffer, err) == 0 ? buffer : "";
#else
  std::string text = PickErrorText(strerror_r(err, buffer, sizeof buffer), buffer);
#endif
  while (!text.empty() && std::string_view(" \t\r\n.").find(text.back()) != std::string_view::npos)
    text.pop_back();
  return text;
}
