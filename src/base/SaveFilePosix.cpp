// Saving a file whole or not at all: the POSIX calls.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/SaveFile.h"
#include "base/SaveFileOs.h"

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int FollowLinks(const std::string& start, std::string& file) {
  std::string path = start;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      file = path;
      return 0;
    }
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4095) + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return errno;
    if (static_cast<size_t>(n) >= target.size()) return ENAMETOOLONG;  // grew meanwhile
    target.resize(static_cast<size_t>(n));
    path = target.front() == '/' ? target : FolderOf(path) + "/" + target;
  }
  return ELOOP;
}

void RemoveStaleSaveTemps(const std::string& file) {
  const std::string folder = FolderOf(file);
  const std::string prefix = SaveTempPrefix(file.substr(file.rfind('/') + 1));
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* e = ::readdir(dir)) {
    const unsigned long pid = SaveTempOwner(e->d_name, prefix);
    if (pid == 0 || pid == SaveFileOs::ProcessId() || ::kill(static_cast<pid_t>(pid), 0) == 0 ||
        errno != ESRCH)
      continue;
    const std::string path = folder + "/" + e->d_name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
  }
  ::closedir(dir);
}

namespace SaveFileOs {

int Inspect(const std::string& path, TTarget& target) {
  if (const int err = FollowLinks(path, target.File)) return err;
  struct stat st {};
  if (::stat(target.File.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  target.Exists = true;
  target.Folder = S_ISDIR(st.st_mode);
  target.Direct = !target.Folder && !S_ISREG(st.st_mode);
  target.Mode = st.st_mode & 07777;
  target.Group = st.st_gid;
  return 0;
}

int CreateTemp(const std::string& path) {
  // The kernel applies the umask to a new file; no need to read it here.
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

int OpenDirect(const std::string& path) {
  // Not blocking on the open: a FIFO without a reader says so (ENXIO)
  // instead of waiting for ever, a terminal does not wait for its line.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

int TakeOver(int fd, const TTarget& target) {
  if (!target.Exists) return 0;
  if (::fchmod(fd, static_cast<mode_t>(target.Mode)) != 0) return errno;
  // Keep the group where this user may (a shared file stays shared).
  if (target.Group != ::getegid()) {
    [[maybe_unused]] const int ignored =
        ::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(target.Group));
  }
  return 0;
}

int Sync(int fd) { return ::fsync(fd) == 0 ? 0 : errno; }

int Close(int fd) { return ::close(fd) == 0 ? 0 : errno; }

int Replace(const std::string& temp, const std::string& file) {
  if (::rename(temp.c_str(), file.c_str()) != 0) return errno;
  // Make the rename itself durable.
  const int folder = ::open(FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return 0;
}

void Remove(const std::string& path) {
  const int err = errno;
  ::unlink(path.c_str());
  errno = err;
}

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

}  // namespace SaveFileOs
