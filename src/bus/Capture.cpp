#include "bus/Capture.h"

#include "base/Text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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
  rest.remove_prefix(CutComplete(rest, CheckedMessageLength, final,
                                 [&](std::string_view item) { return go = FOnItem(item); }));
  // Only a run of unknown bytes waits this long (a message is at most 258).
  if (go && rest.size() >= MaxItem) {
    go = FOnItem(rest);
    rest = {};
  }
  FBuffer.erase(0, FBuffer.size() - rest.size());
  FStopped = !go;
  return go;
}

bool ReadCapture(const std::string& path, ByteString& bytes, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = "cannot read " + path + ": " + SystemErrorText(errno);
    return false;
  }
  bytes.clear();
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (bytes.size() + n > MaxCaptureBytes) {
      std::fclose(f);
      error =
          "cannot read " + path + ": larger than " + std::to_string(MaxCaptureBytes >> 20) + " MiB";
      return false;
    }
    bytes.append(buf, n);
  }
  const bool failed = std::ferror(f);
  const int err = errno;
  std::fclose(f);
  if (failed) {
    error = "cannot read " + path + ": " + SystemErrorText(err);
    return false;
  }
  return true;
}
