// TCaptureReader: a capture log or raw capture read back, ".gz" too.
#include "capture/CaptureReader.h"

#include <unistd.h>
#include <zlib.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "base/Text.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureIo.h"

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
constexpr std::string_view kLogPrefix = "# vantrel-capture ";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Value of a hexadecimal digit, -1 for any other character.
constexpr std::array<int8_t, 256> kHexValue = [] {
  std::array<int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<int8_t>(c - 'a' + 10);
  return t;
}();

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
int HexValue(char c) { return kHexValue[static_cast<unsigned char>(c)]; }

// Seconds as in "# gap 3.250000": digits, optionally a point and decimals
// (beyond the sixth ignored).  False for anything else.
bool ParseSeconds(std::string_view s, int64_t& us) {
  std::size_t i = 0;
  int64_t seconds = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i) {
    if (i == 12) return false;
    seconds = seconds * 10 + (s[i] - '0');
  }
  if (i == 0) return false;
  int64_t micro = 0;
  int decimals = 0;
  if (i < s.size() && s[i] == '.') {
    for (++i; i < s.size() && IsDigit(s[i]); ++i)
      if (decimals < 6) micro = micro * 10 + (s[i] - '0'), ++decimals;
  }
  if (i != s.size()) return false;
  for (; decimals < 6; ++decimals) micro *= 10;
  us = seconds * 1000000 + micro;
  return true;
}

}  // namespace

TCaptureReader::TCaptureReader() : FBuffer(std::make_unique_for_overwrite<char[]>(kBufferSize)) {}

TCaptureReader::~TCaptureReader() { Close(); }

void TCaptureReader::Close() {
  if (FGz) {
    gzclose(FGz);  // closes FFd
  } else if (FFd >= 0) {
    close(FFd);
  }
  FGz = nullptr;
  FFd = -1;
}

bool TCaptureReader::Open(const std::string& path) {
  Close();
  FPos = FEnd = 0;
  FEof = FIsLog = FSkipping = FHasAhead = FLastLineFull = FTruncated = false;
  FLine = FMalformed = 0;
  FErrorText.clear();
  FFd = capture_io::OpenForReading(path);
  if (FFd < 0) return Fail(SystemErrorText(errno));
  if (FFilesOnly && !capture_io::IsRegularFile(FFd)) {
    Close();
    return Fail("not a file (a pipe, a device or a folder)");
  }
  // Standard input may be either: zlib passes what is not gzip through.
  if (IsCompressedCaptureName(path) || path == "-") {
    FGz = gzdopen(FFd, "rb");
    if (!FGz) {
      Close();
      return Fail(SystemErrorText(ENOMEM));
    }
    gzbuffer(FGz, 128 * 1024);
    // zlib passes a file without the gzip mark through as it is: a damaged
    // or misnamed file would be read as a raw capture.
    if (path != "-" && gzdirect(FGz)) {
      Close();
      return Fail("not gzip-compressed data, though the name ends in .gz");
    }
  }
  // Read until the beginning tells: another start than the log's, or the
  // whole first line (a pipe or a device may deliver little at a time).
  // A log saved by an editor may start with a UTF-8 byte-order mark.
  auto textStart = [&] {
    const std::string_view all(FBuffer.get(), FEnd);
    return all.starts_with(kUtf8Mark) ? kUtf8Mark.size() : std::size_t{0};
  };
  for (;;) {
    const std::string_view head = std::string_view(FBuffer.get(), FEnd).substr(textStart());
    if (FEnd < kUtf8Mark.size() && kUtf8Mark.starts_with(std::string_view(FBuffer.get(), FEnd)) &&
        !FEof) {
      if (Fill() < 0) {
        Close();
        return false;
      }
      continue;
    }
    if (!kLogPrefix.starts_with(head.substr(0, kLogPrefix.size()))) break;
    if (head.size() >= kLogPrefix.size() && (head.find('\n') != head.npos || head.size() >= 64))
      break;
    if (FEof) break;
    if (Fill() < 0) {
      Close();
      return false;
    }
  }
  const std::size_t start = textStart();
  const std::string_view head = std::string_view(FBuffer.get(), FEnd).substr(start);
  if (head.starts_with(kLogPrefix)) {
    const std::size_t eol = head.find_first_of("\r\n");
    std::string_view version =
        head.substr(kLogPrefix.size(), eol == head.npos ? head.npos : eol - kLogPrefix.size());
    while (!version.empty() && IsBlank(version.back())) version.remove_suffix(1);
    if (version != kCaptureFirstLine.substr(kLogPrefix.size())) {
      Close();
      return Fail("capture log of version " + capture_io::CleanText(version.substr(0, 20)) +
                  ", this program reads version 1");
    }
    const std::size_t nl = head.find('\n');
    // Lines ending in a carriage return alone would be one endless line.
    if (nl == head.npos && eol != head.npos && eol + 1 < head.size()) {
      Close();
      return Fail("lines end without a line feed");
    }
    FIsLog = true;
    // The first line is consumed here; FLine counts it.
    FPos = nl == head.npos ? FEnd : start + nl + 1;
    FLine = 1;
  }
  return true;
}

bool TCaptureReader::Next(TCaptureItem& item) {
  if (!FIsLog) return NextRaw(item);
  if (FHasAhead) {
    std::swap(item, FAhead);
    FHasAhead = false;
  } else if (!ParseLine(item)) {
    return false;
  }
  if (item.Kind != TCaptureKind::ckChunk) return true;
  // A full line followed by one with the same time: the same read goes on.
  while (FLastLineFull && item.Bytes.size() < kMaxChunk) {
    if (!ParseLine(FAhead)) break;
    if (FAhead.Kind == TCaptureKind::ckChunk && FAhead.TimeUs == item.TimeUs) {
      item.Bytes += FAhead.Bytes;
      continue;
    }
    FHasAhead = true;
    break;
  }
  return true;
}

bool TCaptureReader::NextRaw(TCaptureItem& item) {
  if (FPos == FEnd) {
    FPos = FEnd = 0;
    if (FEof || Fill() <= 0) return false;
  }
  item.Kind = TCaptureKind::ckChunk;
  item.Line = 0;
  item.TimeUs = kNoCaptureTime;
  item.Bytes.assign(FBuffer.get() + FPos, FEnd - FPos);
  FPos = FEnd = 0;
  return true;
}

// The next line that yields an item; false at the end or on a read error.
bool TCaptureReader::ParseLine(TCaptureItem& item) {
  for (;;) {
    char* const base = FBuffer.get();
    if (FPos < FEnd) {
      if (const auto* nl = static_cast<const char*>(std::memchr(base + FPos, '\n', FEnd - FPos))) {
        const char* begin = base + FPos;
        FPos = static_cast<std::size_t>(nl - base) + 1;
        ++FLine;
        if (FSkipping) {
          FSkipping = false;  // the end of a line already reported as too long
          continue;
        }
        if (ParseText(begin, nl, false, item)) return true;
        continue;
      }
    }
    // No line end in the buffer.
    if (FSkipping) {
      FPos = FEnd = 0;
    } else if (FEnd - FPos > kCaptureMaxLineLength) {
      FSkipping = true;
      FPos = FEnd = 0;
      return Malformed(item, FLine + 1, "line too long");
    }
    if (FEof) {
      // A last line without its line end.
      const bool torn = FPos < FEnd;
      if (torn || FSkipping) {
        FTruncated = true;
        ++FLine;
      }
      const bool got = torn && !FSkipping && ParseText(base + FPos, base + FEnd, true, item);
      FPos = FEnd = 0;
      FSkipping = false;
      return got;
    }
    if (FPos > 0) {
      std::memmove(base, base + FPos, FEnd - FPos);
      FEnd -= FPos;
      FPos = 0;
    }
    if (Fill() < 0) return false;
  }
}

// One line without its line end; false when it yields no item (an empty
// line, a torn line without a complete byte).
bool TCaptureReader::ParseText(const char* begin, const char* end, bool torn, TCaptureItem& item) {
  if (static_cast<std::size_t>(end - begin) > kCaptureMaxLineLength)
    return Malformed(item, FLine, "line too long");
  if (begin < end && end[-1] == '\r') --end;
  const char* p = begin;
  while (p < end && IsBlank(*p)) ++p;
  if (p == end) return false;
  if (*begin == '(') return ParseChunk(begin + 1, end, torn, item);
  // A torn metadata line might have lost part of its value: not taken.
  if (*begin == '#') return !torn && ParseMetadata(begin + 1, end, item);
  return Malformed(item, FLine, "neither a chunk nor a # line");
}

bool TCaptureReader::ParseChunk(const char* p, const char* end, bool torn, TCaptureItem& item) {
  // "SECONDS.MICROSECONDS)": a torn line may end anywhere in it.
  int64_t seconds = 0;
  const char* digits = p;
  for (; p < end && IsDigit(*p); ++p) {
    if (p - digits == 12) return Malformed(item, FLine, "bad time");
    seconds = seconds * 10 + (*p - '0');
  }
  if (p == end && torn) return false;
  if (p == digits || p == end || *p != '.') return Malformed(item, FLine, "bad time");
  int64_t micro = 0;
  for (int k = 0; k < 6; ++k) {
    if (++p == end && torn) return false;
    if (p == end || !IsDigit(*p)) return Malformed(item, FLine, "bad time");
    micro = micro * 10 + (*p - '0');
  }
  if (++p == end && torn) return false;
  if (p == end || *p != ')') return Malformed(item, FLine, "bad time");
  ++p;

  std::string& bytes = item.Bytes;
  bytes.resize(static_cast<std::size_t>(end - p) / 2 + 1);
  char* out = bytes.data();
  while (p < end) {
    if (!IsBlank(*p)) return Malformed(item, FLine, "bytes must be separated by blanks");
    do ++p;
    while (p < end && IsBlank(*p));
    if (p == end) break;
    if (end - p < 2) {
      if (torn) break;  // the half byte a writer did not finish
      return Malformed(item, FLine, "half a byte");
    }
    const int hi = HexValue(p[0]), lo = HexValue(p[1]);
    if ((hi | lo) < 0) return Malformed(item, FLine, "not a hexadecimal byte");
    *out++ = static_cast<char>(hi << 4 | lo);
    p += 2;
  }
  bytes.resize(static_cast<std::size_t>(out - bytes.data()));
  if (bytes.empty()) return torn ? false : Malformed(item, FLine, "chunk without bytes");
  item.Kind = TCaptureKind::ckChunk;
  item.Line = FLine;
  item.TimeUs = seconds * 1000000 + micro;
  FLastLineFull = bytes.size() == kCaptureBytesPerLine;
  return true;
}

bool TCaptureReader::ParseMetadata(const char* p, const char* end, TCaptureItem& item) {
  while (p < end && IsBlank(*p)) ++p;
  const char* key = p;
  while (p < end && !IsBlank(*p)) ++p;
  const std::string_view keyText(key, static_cast<std::size_t>(p - key));
  while (p < end && IsBlank(*p)) ++p;
  while (end > p && IsBlank(end[-1])) --end;
  const std::string_view value(p, static_cast<std::size_t>(end - p));
  item.Line = FLine;
  if (keyText == "gap") {
    if (!ParseSeconds(value, item.GapUs)) return Malformed(item, FLine, "bad gap");
    item.Kind = TCaptureKind::ckGap;
    return true;
  }
  item.Kind = TCaptureKind::ckMetadata;
  item.Key.assign(keyText);
  item.Text.assign(value);
  return true;
}

bool TCaptureReader::Malformed(TCaptureItem& item, uint64_t line, const char* reason) {
  item.Kind = TCaptureKind::ckMalformed;
  item.Line = line;
  item.Text = reason;
  ++FMalformed;
  FLastLineFull = false;
  return true;
}

// Reads more into FBuffer[FEnd, ...).  Returns the count, 0 at the end, -1
// on an error (kept in FErrorText; every later call fails too).
long TCaptureReader::Fill() {
  if (!FErrorText.empty() || FFd < 0) return -1;
  if (FEof) return 0;
  char* const dst = FBuffer.get() + FEnd;
  const std::size_t room = kBufferSize - FEnd;
  long n;
  if (FGz) {
    n = gzread(FGz, dst, static_cast<unsigned>(room));
    const int err = errno;
    int code = Z_OK;
    const char* message = gzerror(FGz, &code);
    if (n < 0) {
      FEof = true;
      if (code == Z_ERRNO) return Fail(SystemErrorText(err)), -1;
      std::string text = message ? message : "";
      // zlib puts the file's name first ("<fd:3>: invalid block type").
      if (const auto colon = text.find(": "); text.starts_with("<fd:") && colon != text.npos)
        text.erase(0, colon + 2);
      return Fail("damaged compressed data (" + text + ")"), -1;
    }
    // A compressed stream cut short: what came before it is good.
    if (n == 0 && code == Z_BUF_ERROR) FTruncated = true;
  } else {
    do n = read(FFd, dst, room);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
      FEof = true;
      return Fail(SystemErrorText(errno)), -1;
    }
  }
  if (n == 0) FEof = true;
  FEnd += static_cast<std::size_t>(n);
  return n;
}

bool TCaptureReader::Fail(std::string text) {
  if (FErrorText.empty()) FErrorText = std::move(text);
  return false;
}
