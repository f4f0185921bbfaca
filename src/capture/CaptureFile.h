// The file calls of the capture writer and reader where the platforms
// differ: on Windows UTF-8 names, binary files and the system's own sync.
// Not part of the library's interface.
#pragma once

#include <string>

namespace capture_io {

// A descriptor not inherited by child processes, or -1 with errno.  Neither
// waits for the other end of a named pipe: writing one that nobody reads
// fails at once (ENXIO), and writes to a pipe, a socket or a terminal never
// block (EAGAIN when it takes nothing), so that a stalled target cannot hold
// the thread that records.  Reading blocks as usual once opened.
int OpenForWriting(const std::string& path);
int OpenForReading(const std::string& path);
// Whether fd is a plain file (not a pipe, a device or a socket).
bool IsRegularFile(int fd);

// Hands what was written to the device: 0, or -1 with errno.  What cannot
// be synced (a pipe, a device) counts as synced.
int SyncFile(int fd);

}  // namespace capture_io
