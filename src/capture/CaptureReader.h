// TCaptureReader: reads a capture log or a raw capture (format:
// CaptureLog.h) as a stream, in constant memory whatever the file's size.
//
//   TCaptureReader in;
//   if (!in.Open(path)) report("cannot read " + path + ": " + in.LastErrorText());
//   TCaptureItem item;
//   while (in.Next(item)) switch (item.Kind) { ... }
//   if (!in.LastErrorText().empty()) report(...);   // the read failed midway
//
// Items come in file order.  A raw capture (IsLog() false) yields only
// chunks, with TimeUs == kNoCaptureTime, cut wherever the reads of the file
// ended: the bytes are all that counts there.  A log yields one chunk per
// recorded read (the lines of a read split over several lines are joined),
// metadata and gaps, and reports each malformed line as an item of its own,
// with its line number, then goes on with the next line.  A last line cut
// short (no line end) is taken up to its last complete byte when it is a
// chunk line and dropped otherwise; Truncated() tells that this happened,
// as it tells a compressed file that ends before its end mark.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capture/CaptureLog.h"

struct gzFile_s;

enum class TCaptureKind {
  ckChunk,      // Bytes received at TimeUs
  ckMetadata,   // "# Key Text"
  ckGap,        // no connection for GapUs
  ckMalformed,  // line Line skipped; Text says why
};

// The fields of the item's kind are set; the others keep what they held.
struct TCaptureItem {
  TCaptureKind Kind = TCaptureKind::ckChunk;
  uint64_t Line = 0;                // where the item starts, from 1; 0 in a raw capture
  int64_t TimeUs = kNoCaptureTime;  // ckChunk: receive time, µs since the epoch (UTC)
  int64_t GapUs = 0;                // ckGap
  std::string Bytes;                // ckChunk
  std::string Key;                  // ckMetadata ("port", "start", …)
  std::string Text;                 // ckMetadata: the value; ckMalformed: the reason

  bool HasTime() const { return TimeUs != kNoCaptureTime; }
};

// What a tool says of a file whose Truncated() is true, after its name.
inline constexpr const char* kCutShortText =
    "is cut short: it ends inside a line or inside its compressed data";

class TCaptureReader {
public:
  // Joined lines of one read are yielded in pieces of at most this size, so
  // that no file can make a chunk grow without bound.
  static constexpr std::size_t kMaxChunk = 64 * 1024;

  TCaptureReader();
  ~TCaptureReader();
  TCaptureReader(const TCaptureReader&) = delete;
  TCaptureReader& operator=(const TCaptureReader&) = delete;

  // Opens the file (through zlib when its name ends in ".gz") and reads its
  // beginning to tell a log from a raw capture.  False with the cause:
  // "No such file or directory", or a log of a version this reader does not
  // know.  Works on pipes and devices too (it never seeks); "-" is standard
  // input, compressed or not.  A UTF-8 byte-order mark before a log's first
  // line is passed over.
  bool Open(const std::string& path);
  void Close();
  // Refuse in Open anything but a plain file: a named pipe or a device may
  // block a read for ever, which a window cannot afford.  Set before Open.
  void SetFilesOnly(bool filesOnly) { FFilesOnly = filesOnly; }

  bool IsLog() const { return FIsLog; }

  // The next item; false at the end of the file or when reading failed
  // (LastErrorText() is then not empty).  Reuse one item for speed: its
  // buffers are kept.
  bool Next(TCaptureItem& item);

  const std::string& LastErrorText() const { return FErrorText; }
  uint64_t MalformedLines() const { return FMalformed; }
  bool Truncated() const { return FTruncated; }

private:
  bool NextRaw(TCaptureItem& item);
  bool ParseLine(TCaptureItem& item);
  bool ParseText(const char* begin, const char* end, bool torn, TCaptureItem& item);
  bool ParseChunk(const char* p, const char* end, bool torn, TCaptureItem& item);
  bool ParseMetadata(const char* p, const char* end, TCaptureItem& item);
  bool Malformed(TCaptureItem& item, uint64_t line, const char* reason);
  long Fill();
  bool Fail(std::string text);

  bool FFilesOnly = false;
  int FFd = -1;
  gzFile_s* FGz = nullptr;  // owns FFd when the name ends in ".gz"
  std::unique_ptr<char[]> FBuffer;
  std::size_t FPos = 0, FEnd = 0;  // unread data is FBuffer[FPos, FEnd)
  bool FEof = false;
  bool FIsLog = false;
  bool FSkipping = false;  // inside a line too long to keep
  uint64_t FLine = 0;      // complete lines consumed
  TCaptureItem FAhead;     // parsed while looking for the rest of a read
  bool FHasAhead = false;
  bool FLastLineFull = false;  // the last chunk line held kCaptureBytesPerLine bytes
  uint64_t FMalformed = 0;
  bool FTruncated = false;
  std::string FErrorText;
};
