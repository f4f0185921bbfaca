// What a file is, and opening it for reading, by a UTF-8 name on every
// platform (the Windows calls take the name as UTF-16).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct TFileFacts {
  bool Regular = false;    // a plain file, not a folder or device
  uint64_t Size = 0;       // bytes
  int64_t ModifiedUs = 0;  // last written, microseconds since 1970 (UTC)
};

// False when the path cannot be examined (missing, no access).
bool ReadFileFacts(const std::string& path, TFileFacts& facts);

// The file opened for reading in binary mode, or nullptr.
std::FILE* OpenFileForReading(const std::string& path);
