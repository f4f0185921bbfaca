// Cutting an arbitrary stream: the items must concatenate to the input, and
// each item's length must be what the rule gave for the head it was cut from
// (or the whole rest when the rule said 0 or more than what is left).
#include "bus/uVantrelSeq.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (int checked = 0; checked < 2; ++checked) {
    std::string joined;
    std::string_view rest(input);
    while (!rest.empty()) {
      const int n = checked ? CheckedMessageLength(rest) : MessageLength(rest);
      if (n < 0) std::abort();
      const size_t take =
          (n == 0 || static_cast<size_t>(n) > rest.size()) ? rest.size() : static_cast<size_t>(n);
      joined.append(rest.substr(0, take));
      rest.remove_prefix(take);
    }
    if (joined != input) std::abort();
  }
  return 0;
}
