// Port names joined by commas, quoted where a name needs it (the port lists' text).
#include <string>
#include <vector>

#include "serial/SerialPorts.h"

namespace {

bool NeedsQuotes(const std::string& s) {
  for (const unsigned char c : s)
    if (c <= ' ' || c == ',' || c == '"') return true;
  return false;
}

}  // namespace

std::string SerialCommaText(const std::vector<std::string>& names) {
  if (names.size() == 1 && names[0].empty()) return "\"\"";
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) out += ',';
    const std::string& s = names[i];
    if (!NeedsQuotes(s)) {
      out += s;
      continue;
    }
    out += '"';
    for (const char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}
