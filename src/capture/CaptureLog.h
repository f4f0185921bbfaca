// The capture log: a recording of the bus as the reader received it, one
// line per read with the time of the read, so that a session can be framed,
// shown and replayed later with its own timing.  Other programs read and
// write these files: keep the format stable and change the version number in
// the first line when it has to change incompatibly.
//
// Format (UTF-8 text, lines end in "\n"):
//
//   # vantrel-capture 1
//   # port /dev/ttyUSB0
//   # line 115200 8N1
//   # program vantrel-dump 0.1.0
//   # start 2026-12-08T14:03:05.123456Z
//   (1796738585.123456) 41 4A 09 41 02
//   (1796738585.133012) 42
//   # gap 3.250000
//   (1796738588.400000) 1F 00 21 …
//
// - The first line is exactly "# vantrel-capture 1".  A file is a capture log
//   exactly when it starts with that line; any other file is a raw capture:
//   the received bytes only, without times.  A first line naming another
//   version ("# vantrel-capture 2") is refused, not read as raw bytes.
// - A line starting with "#" is metadata: "# KEY VALUE", the key a single
//   word, the value the rest of the line.  Written keys: "port" (the port as
//   the user named it), "line" (the line settings: baud rate, data bits,
//   parity letter and stop bits, then the flow control if any, e.g.
//   "9600 8N1" or "115200 8E2 rtscts"), "program" (name and version) and
//   "start" (the start of the recording, ISO 8601 in UTC with microseconds).
//   Metadata may follow later too (a new port after a reconnect).  Readers
//   pass unknown keys on and ignore them where they do not know them.
// - "# mark TIME TEXT" notes the item received at TIME (as "start" writes
//   it) with the user's short text (may be empty).  Written while recording,
//   whenever the user marks a row, so it may come after later chunks.
// - "# gap SECONDS" (decimal, e.g. "3.250000") marks a stretch without a
//   connection: after a reconnect, before the first chunk read on it.
// - A chunk line "(SECONDS.MICROSECONDS) HH HH …" holds the bytes of one read:
//   the receive time in seconds since the epoch (UTC) with exactly six
//   decimals, then each byte as two upper-case hexadecimal digits, separated
//   by one blank.  At most 64 bytes a line: a longer read continues on the
//   next lines with the same time; a full line (64 bytes) followed by a line
//   with the same time is one read.  Times follow the system clock, so they
//   may step back when the clock is set.
// - Files whose name ends in ".gz" are gzip-compressed, logs and raw captures
//   alike.
//
// Readers of this project are lenient where it costs nothing: "\r\n" line
// ends, lower-case hexadecimal digits, several blanks between bytes, more
// than 64 bytes a line and empty lines are accepted.  A line longer than
// kCaptureMaxLineLength characters is malformed.  A last line without its
// line end (a writer killed while writing) is taken up to its last complete
// byte when it is a chunk line and dropped otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::string_view kCaptureFirstLine = "# vantrel-capture 1";
inline constexpr std::size_t kCaptureBytesPerLine = 64;
inline constexpr std::size_t kCaptureMaxLineLength = 4096;

// The time of a chunk of a raw capture, which has none.
inline constexpr int64_t kNoCaptureTime = INT64_MIN;

// Metadata written at the start of a recording.  Texts are written as
// given, except that line ends, control characters and invalid UTF-8 become
// "?" so that a value can never break the line structure.
struct TCaptureHeader {
  std::string Port;     // "/dev/ttyUSB0"
  std::string Line;     // "9600 8N1", see above
  std::string Program;  // "vantrel-dump 0.1.0"
  int64_t StartUs = 0;  // microseconds since the epoch (UTC)
};

// "2026-12-08T14:03:05.123456Z"
std::string FormatCaptureTime(int64_t us);
// The time FormatCaptureTime wrote (up to six decimals, none allowed), in
// microseconds since the epoch; false for any other text.
bool ParseCaptureTime(std::string_view text, int64_t& us);

// Marks: "# mark TIME TEXT".  A mark's text is kept to this many bytes, so
// that its line stays far below kCaptureMaxLineLength.
inline constexpr std::string_view kCaptureMarkKey = "mark";
inline constexpr std::size_t kCaptureMaxMarkText = 1000;
// The text as a mark line keeps it: control characters and invalid UTF-8
// become "?", blanks at either end go, and it is cut (between characters)
// to kCaptureMaxMarkText bytes.
std::string CaptureMarkText(std::string_view text);
// The value of a mark line, and back; false when the value is not one.
std::string FormatCaptureMark(int64_t us, std::string_view text);
bool ParseCaptureMark(std::string_view value, int64_t& us, std::string& text);

// True when the file name asks for gzip compression (ends in ".gz").
bool IsCompressedCaptureName(std::string_view path);
