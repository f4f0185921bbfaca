// The file calls of the capture writer and reader where the platforms
// differ: on Windows UTF-8 names, binary files and the system's own sync.
// Not part of the library's interface.
#pragma once

#include <string>

namespace capture_io {

// A descriptor not inherited by child processes, or -1 with errno.
int OpenForWriting(const std::string& path);
int OpenForReading(const std::string& path);

// Hands what was written to the device: 0, or -1 with errno.  What cannot
// be synced (a pipe, a device) counts as synced.
int SyncFile(int fd);

}  // namespace capture_io
