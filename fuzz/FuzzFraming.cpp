// Cutting an arbitrary stream with the reader's loop, under both rules: what
// is decided at once and then the rest as final must join up to the input,
// each item not empty; and a capture fed in two pieces must frame as whole.
#include "bus/RawFraming.h"
#include "bus/uVantrelSeq.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (TFrameRule rule : {CheckedMessageLength, MessageLength}) {
    std::string joined;
    auto put = [&joined](std::string_view item) {
      if (item.empty()) std::abort();
      joined.append(item);
      return true;
    };
    const size_t decided = CutComplete(input, rule, false, put);
    CutComplete(std::string_view(input).substr(decided), rule, true, put);
    if (joined != input) std::abort();
  }
  std::vector<ByteString> pieces;
  TCaptureFramer framer([&pieces](std::string_view item) {
    pieces.emplace_back(item);
    return true;
  });
  framer.Feed(std::string_view(input).substr(0, size / 2));
  framer.Feed(std::string_view(input).substr(size / 2));
  framer.Finish();
  if (pieces != FrameCapture(input)) std::abort();
  return 0;
}
