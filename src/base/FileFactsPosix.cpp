// File facts (size, modification time) the POSIX way.
#include <sys/stat.h>

#include "base/FileFacts.h"

bool ReadFileFacts(const std::string& path, TFileFacts& facts) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  facts.Regular = S_ISREG(st.st_mode);
  facts.Size = static_cast<uint64_t>(st.st_size);
  facts.ModifiedUs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000 + st.st_mtim.tv_nsec / 1000;
  return true;
}

std::FILE* OpenFileForReading(const std::string& path) { return std::fopen(path.c_str(), "rbe"); }
