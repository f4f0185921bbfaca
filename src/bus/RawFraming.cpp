// Raw framing: captured bytes cut as the reader cuts them, whole or in pieces.
#include "bus/RawFraming.h"

std::vector<ByteString> FrameCapture(std::string_view bytes) {
  std::vector<ByteString> items;
  CutComplete(bytes, CheckedMessageLength, true, [&items](std::string_view item) {
    items.emplace_back(item);
    return true;
  });
  return items;
}

bool TCaptureFramer::Feed(std::string_view bytes) {
  if (FStopped) return false;
  FBuffer.append(bytes);
  return Cut(false);
}

bool TCaptureFramer::Finish() { return !FStopped && Cut(true); }

bool TCaptureFramer::Cut(bool final) {
  bool go = true;
  std::string_view rest(FBuffer);
  const char* const end = FBuffer.data() + FBuffer.size();
  rest.remove_prefix(CutComplete(rest, CheckedMessageLength, final, [&](std::string_view item) {
    FAfter = static_cast<std::size_t>(end - (item.data() + item.size()));
    return go = FOnItem(item);
  }));
  // Only a run of unknown bytes waits this long (a message is at most 258).
  if (go && rest.size() >= MaxItem) {
    FAfter = 0;
    go = FOnItem(rest);
    rest = {};
  }
  FBuffer.erase(0, FBuffer.size() - rest.size());
  FStopped = !go;
  return go;
}
