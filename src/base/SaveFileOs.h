// What the platform-neutral part of SaveFileWhole (SaveFile.cpp) needs from
// the system: implemented by SaveFilePosix.cpp or SaveFileWin.cpp; not for
// use outside src/base.
#pragma once

#include <string>
#include <string_view>

namespace SaveFileOs {

// What a save finds at its path.
struct TTarget {
  std::string File;  // the path with links followed
  bool Exists = false;
  bool Folder = false;
  bool Direct = false;      // a device or FIFO: written into, never replaced
  unsigned Mode = 0;        // POSIX: permission bits of a file that exists
  unsigned Group = 0;       // POSIX: its group
  bool OtherOwner = false;  // POSIX: it belongs to another user, whom a rename would dispossess
};

// 0, or the errno value that makes a save impossible (a missing file is not).
int Inspect(const std::string& path, TTarget& target);
// A new file that must not exist yet, or the device of a direct target:
// a descriptor, or -1 with errno set.
int CreateTemp(const std::string& path);
int OpenDirect(const std::string& path);
// Gives a new file what the target had (permission bits, group); 0 or errno.
int TakeOver(int fd, const TTarget& target);
// Each: 0 or an errno value.
int Sync(int fd);
int Close(int fd);
int Replace(const std::string& temp, const std::string& file);
void Remove(const std::string& path);
// Where replacing is refused or would change the owner: the finished
// temporary file becomes a copy beside the file, the file is rewritten in
// place from it, and the copy goes.  Until then the copy holds the whole new
// text, and RemoveStaleSaveTemps finishes a rewrite whose process died.
// kNoRewrite when the file cannot be rewritten so (nothing changed);
// otherwise 0 or errno.
constexpr int kNoRewrite = -1;
int RewriteInPlace(const std::string& temp, const std::string& file);

unsigned long ProcessId();

}  // namespace SaveFileOs

// "<file>.~": what the names of a save's temporary files start with.
std::string SaveTempPrefix(const std::string& file);
// The process that made a temporary file named name ("<prefix><pid>.<n>"),
// or 0 when the name is not one of those.
unsigned long SaveTempOwner(std::string_view name, std::string_view prefix);
// The same for the copy of an in-place rewrite ("<prefix><pid>.new").
unsigned long SaveCopyOwner(std::string_view name, std::string_view prefix);
