// Standard output of vantrel-dump: the lines of one drain leave in one
// write.  Someone reading as it comes (a terminal, a pipe into grep) gets
// every drain at once; a file gets what waits at least once a second, or
// when the buffer is full, so that a busy line does not cost a write per
// item.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class TDumpOutput {
public:
  // Lines written to a file wait at most this long.
  static constexpr int64_t kFilePeriodUs = 500000;

  // Takes the stream over with a buffer of its own; interactive unless the
  // stream is a regular file.
  explicit TDumpOutput(std::FILE* stream);

  bool Interactive() const { return FInteractive; }
  // errno of the first failed write, 0 while all went well.
  int Error() const { return FError; }
  bool Pending() const { return FPending; }

  // Hands text on (and empties it); false when the stream cannot be
  // written (Error() says why).
  bool Write(std::string& text, int64_t nowUs);
  // For a file: writes what waits once it is kFilePeriodUs old.
  bool FlushIfDue(int64_t nowUs);
  bool Flush();

private:
  bool Failed();  // keeps errno; false

  std::FILE* FStream;
  bool FInteractive;
  bool FPending = false;
  int64_t FPendingSinceUs = 0;
  int FError = 0;
};
