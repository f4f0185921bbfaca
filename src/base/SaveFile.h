// Saving a file whole or not at all.  What is written goes to a temporary
// file beside the target ("<file>.~<pid>.<n>"), is flushed to the disk and
// then takes the target's place in one step, so a full disk, a refused write
// or a crash leaves the old file (or none), never a piece of the new one, and
// a failure leaves no temporary file behind.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// Where the text of a save goes: collected and written in large pieces.
// After the first failure every call is false and Error() keeps the cause.
class TFileSink {
public:
  explicit TFileSink(int fd) noexcept : FFd(fd) {}
  TFileSink(const TFileSink&) = delete;
  TFileSink& operator=(const TFileSink&) = delete;

  bool Write(std::string_view data);
  bool Flush();                                  // writes out what is collected
  int Error() const noexcept { return FError; }  // errno value, 0 while none

private:
  static constexpr size_t kBufferSize = 1 << 16;
  int FFd;
  int FError = 0;
  std::string FBuffer;
};

// The step a save failed in, for callers that explain a cause in their own
// words (a folder that takes no new file is not a file that may not change).
enum class TSaveStep {
  ssNone,
  ssCreate,   // looking at the target, making the temporary file or opening a device
  ssWrite,    // writing, flushing or closing
  ssReplace,  // putting the temporary file in the target's place
};

struct TSaveResult {
  int Error = 0;  // errno value; 0 when the file was saved
  TSaveStep Step = TSaveStep::ssNone;
  explicit operator bool() const noexcept { return Error == 0; }
};

// Saves what produce writes into the sink as the file at path (UTF-8).
// produce returns false to give up: nothing is saved, and the cause is the
// sink's error (ECANCELED when the sink had none).
// - POSIX: symbolic links are followed, so the file they name is replaced
//   and the link stays.  A file that exists keeps its permission bits and,
//   where this user may set it, its group; a new one gets 0666 less the
//   umask.  A target that is not a regular file (a device, a FIFO) is written
//   into directly and never replaced or removed.
// - Windows: a read-only target is refused (EACCES); a new file gets the
//   folder's rights.
// Temporary files of earlier saves of the same file whose process no longer
// runs (killed before its rename) are removed first.
TSaveResult SaveFileWhole(const std::string& path, const std::function<bool(TFileSink&)>& produce);
// The same, false with the cause as the system words it ("No space left on
// device") in error.
bool SaveFileWhole(const std::string& path, const std::function<bool(TFileSink&)>& produce,
                   std::string& error);

// The file path names once symbolic links are followed, also when the last
// link points to a file not created yet (path itself on Windows).  0 or an
// errno value.
int FollowLinks(const std::string& path, std::string& file);

// Removes the temporary files that saves of file left when their process
// ended before the rename.
void RemoveStaleSaveTemps(const std::string& file);
