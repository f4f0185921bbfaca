// File facts (size, modification time) the Windows way.
#include <windows.h>

#include "base/FileFacts.h"
#include "base/WideText.h"

namespace {

// FILETIME counts 100 ns steps from 1601; this many lie before 1970.
constexpr int64_t kEpochSteps = 116444736000000000;

}  // namespace

bool ReadFileFacts(const std::string& path, TFileFacts& facts) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) return false;
  facts.Regular = (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
  facts.Size = uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
  const int64_t steps = static_cast<int64_t>(uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
                                             data.ftLastWriteTime.dwLowDateTime);
  facts.ModifiedUs = (steps - kEpochSteps) / 10;
  return true;
}

std::FILE* OpenFileForReading(const std::string& path) {
  return _wfopen(Widen(path).c_str(), L"rbN");  // N: not inherited by child processes
}
