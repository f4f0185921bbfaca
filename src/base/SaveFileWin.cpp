// Saving a file whole or not at all: the Windows calls.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

#include "base/SaveFile.h"
#include "base/SaveFileOs.h"
#include "base/WideText.h"

namespace {

size_t NameStart(const std::string& path) {
  const size_t sep = path.find_last_of("\\/:");
  return sep == std::string::npos ? 0 : sep + 1;
}

bool ProcessRuns(unsigned long pid) {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!h) return GetLastError() == ERROR_ACCESS_DENIED;  // someone else's, running
  const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running;
}

int OpenUtf8(const std::string& path, int flags) {
  return _wopen(Widen(path).c_str(), flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

}  // namespace

int FollowLinks(const std::string& path, std::string& file) {
  file = path;
  return 0;
}

void RemoveStaleSaveTemps(const std::string& file) {
  const std::string folder = file.substr(0, NameStart(file));
  const std::string prefix = SaveTempPrefix(file.substr(NameStart(file)));
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(Widen(folder + prefix + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string name = Narrow(found.cFileName);
    const unsigned long pid = SaveTempOwner(name, prefix);
    if (pid == 0 || pid == GetCurrentProcessId() || ProcessRuns(pid)) continue;
    DeleteFileW(Widen(folder + name).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

namespace SaveFileOs {

int Inspect(const std::string& path, TTarget& target) {
  target.File = path;
  const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const int err = ErrnoOfWinError(GetLastError());
    return err == ENOENT ? 0 : err;
  }
  target.Exists = true;
  target.Folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  target.Direct = (attributes & FILE_ATTRIBUTE_DEVICE) != 0;
  return 0;
}

int CreateTemp(const std::string& path) { return OpenUtf8(path, _O_WRONLY | _O_CREAT | _O_EXCL); }

int OpenDirect(const std::string& path) { return OpenUtf8(path, _O_WRONLY); }

int TakeOver(int, const TTarget&) { return 0; }

int Sync(int fd) { return ::_commit(fd) == 0 ? 0 : errno; }

int Close(int fd) { return ::_close(fd) == 0 ? 0 : errno; }

int Replace(const std::string& temp, const std::string& file) {
  // Windows refuses to replace a read-only file; not every file system
  // emulation does, so the attribute is asked first.
  const DWORD attributes = GetFileAttributesW(Widen(file).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    return EACCES;
  if (MoveFileExW(Widen(temp).c_str(), Widen(file).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return 0;
  return ErrnoOfWinError(GetLastError());
}

void Remove(const std::string& path) { DeleteFileW(Widen(path).c_str()); }

// A refused replacement stays refused: Windows keeps no owner a rename could
// take away, and a read-only file is read-only in place too.
int RewriteInPlace(const std::string&, const std::string&) { return kNoRewrite; }

unsigned long ProcessId() { return GetCurrentProcessId(); }

}  // namespace SaveFileOs
