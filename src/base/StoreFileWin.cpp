// Store files the Windows way: positioned ReadFile/WriteFile, LockFileEx.
#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "base/StoreFile.h"
#include "base/WideText.h"

namespace {

// The lock covers a byte far beyond any data: reading and writing the data
// stay free while it is held.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

bool LockHandle(HANDLE h, DWORD flags) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return LockFileEx(h, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

}  // namespace

bool TStoreFile::Open(const std::string& path, bool create, bool lock) {
  Close();
  HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    FError = ErrnoOfWinError(GetLastError());
    return false;
  }
  LARGE_INTEGER size{};
  if ((lock && !LockHandle(h, LOCKFILE_EXCLUSIVE_LOCK)) || !GetFileSizeEx(h, &size)) {
    FError = ErrnoOfWinError(GetLastError());
    CloseHandle(h);
    return false;
  }
  FHandle = reinterpret_cast<intptr_t>(h);
  FSize = static_cast<uint64_t>(size.QuadPart);
  return true;
}

void TStoreFile::Close() noexcept {
  if (FHandle == kNone) return;
  CloseHandle(AsHandle(FHandle));  // the lock goes with the handle
  FHandle = kNone;
  FSize = 0;
}

bool TStoreFile::Append(std::string_view data) {
  while (!data.empty()) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(FSize);
    at.OffsetHigh = static_cast<DWORD>(FSize >> 32);
    DWORD written = 0;
    const DWORD n = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
    if (!WriteFile(AsHandle(FHandle), data.data(), n, &written, &at)) {
      FError = ErrnoOfWinError(GetLastError());
      return false;
    }
    FSize += written;
    data.remove_prefix(written);
  }
  return true;
}

bool TStoreFile::ReadAt(uint64_t offset, void* buffer, std::size_t n) const {
  auto* out = static_cast<char*>(buffer);
  while (n > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    if (!ReadFile(AsHandle(FHandle), out, ask, &got, &at)) {
      FError = ErrnoOfWinError(GetLastError());
      return false;
    }
    if (got == 0) return false;
    out += got;
    offset += got;
    n -= got;
  }
  return true;
}

bool TStoreFile::Truncate(uint64_t size) {
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(AsHandle(FHandle), to, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(AsHandle(FHandle))) {
    FError = ErrnoOfWinError(GetLastError());
    return false;
  }
  FSize = size;
  return true;
}

bool StoreFileLocked(const std::string& path) {
  HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool free = LockHandle(h, 0);
  CloseHandle(h);
  return !free;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW data{};
  HANDLE h = FindFirstFileW(Widen(JoinPath(folder, "*")).c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = Narrow(data.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(h, &data));
  FindClose(h);
  return names;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeFolders(const std::string& folder) {
  for (std::size_t pos = 3;; ++pos) {  // past "C:\"
    pos = folder.find_first_of("\\/", pos);
    const std::string part = folder.substr(0, pos);
    if (!CreateDirectoryW(Widen(part).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
    if (pos == std::string::npos) break;
  }
  return IsFolder(folder);
}

bool RemoveFile(const std::string& path) {
  return DeleteFileW(Widen(path).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool RemoveEmptyFolder(const std::string& path) {
  return RemoveDirectoryW(Widen(path).c_str()) != 0;
}

uint64_t FreeDiskBytes(const std::string& folder) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(Widen(folder).c_str(), &available, nullptr, nullptr)) return 0;
  return available.QuadPart;
}

std::string CacheFolder(const std::string& program) {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (!local || !*local) return {};
  return JoinPath(Narrow(local), program);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + "\\" + name;
}
