// Raw framing: the raw bytes of a captured line, framed again as the reader
// frames them live.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "bus/uVantrelSeq.h"

// Cuts a capture the way the reader cuts bytes that all arrived in one read
// before the line went silent: the checked rule, and at the end what is left
// as it is (a message short, a run of unknown bytes whole).
std::vector<ByteString> FrameCapture(std::string_view bytes);

// The same cutting fed piece by piece, so that a capture of any size (or an
// endless one) is framed in bounded memory: an item is cut only once no later
// byte can change it, so the pieces frame exactly as the whole capture.  One
// exception keeps memory bounded: a run of unrecognised bytes that grows to
// MaxItem bytes is handed on as one item then.  OnItem returns false to stop.
class TCaptureFramer {
public:
  static constexpr std::size_t MaxItem = 1u << 20;

  explicit TCaptureFramer(std::function<bool(std::string_view)> onItem)
      : FOnItem(std::move(onItem)) {}

  bool Feed(std::string_view bytes);  // false once OnItem has asked to stop
  bool Finish();                      // end of the capture: the rest goes as it is
  // In OnItem: how many of the bytes fed so far follow the item (with a
  // log's reads, what TItemClock needs to time the item).
  std::size_t BytesAfter() const { return FAfter; }

private:
  bool Cut(bool final);

  std::function<bool(std::string_view)> FOnItem;
  ByteString FBuffer;
  bool FStopped = false;
  std::size_t FAfter = 0;
};
