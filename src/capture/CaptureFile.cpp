// The capture files' platform calls: open, write, sync, read.
#include "capture/CaptureFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>

#include "base/WideText.h"
#else
#include <unistd.h>
#endif

#include <cerrno>

namespace capture_io {

#ifdef _WIN32

// Binary, or every line feed of a log and every such byte of a compressed
// one would gain a carriage return.
int OpenForWriting(const std::string& path) {
  return _wopen(Widen(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}

int OpenForReading(const std::string& path) {
  if (path == "-") {
    _setmode(0, _O_BINARY);
    return _dup(0);
  }
  return _wopen(Widen(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

bool IsRegularFile(int fd) {
  struct _stat64 st {};
  return _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}

int SyncFile(int fd) {
  struct _stat64 st {};
  if (_fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) != _S_IFREG) return 0;
  return _commit(fd) == 0 ? 0 : -1;
}

#else

int OpenForWriting(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
}

int OpenForReading(const std::string& path) {
  if (path == "-") return fcntl(0, F_DUPFD_CLOEXEC, 0);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool IsRegularFile(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

int SyncFile(int fd) {
  if (fsync(fd) == 0 || errno == EINVAL || errno == EROFS) return 0;
  return -1;
}

#endif

}  // namespace capture_io
