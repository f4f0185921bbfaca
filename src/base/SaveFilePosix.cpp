// Saving a file whole or not at all: the POSIX calls.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/SaveFile.h"
#include "base/SaveFileOs.h"
#include "base/UniqueFd.h"

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncFolderOf(const std::string& file) {
  const int folder = ::open(FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
}

// Rewrites the file open as fd with the whole content of copy: 0 or errno;
// touched says whether a byte of the file was changed.
int CopyInto(const std::string& copy, int fd, bool& touched) {
  touched = false;
  TUniqueFd from(::open(copy.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  struct stat st {};
  if (!from || ::fstat(from.Get(), &st) != 0) return errno;
#ifdef __linux__
  // The room first, so that a full disk stops the rewrite before it begins.
  if (st.st_size > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, st.st_size) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS)
    return errno;
#endif
  if (::lseek(fd, 0, SEEK_SET) != 0) return errno;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(from.Get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    touched = true;
    if (!WriteAll(fd, std::string_view(buf, static_cast<size_t>(n)))) return errno ? errno : EIO;
  }
  touched = true;
  if (::ftruncate(fd, st.st_size) != 0 || ::fsync(fd) != 0) return errno;
  return 0;
}

// Opens the file to be rewritten in place: a regular file only.
int OpenInPlace(const std::string& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A rewrite whose process died: its copy is whole, the file may not be.
void FinishRewrite(const std::string& copy, const std::string& file) {
  TUniqueFd fd(OpenInPlace(file));
  bool touched = false;
  if (fd && CopyInto(copy, fd.Get(), touched) == 0) ::unlink(copy.c_str());
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
    if (const unsigned long copier = SaveCopyOwner(e->d_name, prefix);
        copier != 0 && copier != SaveFileOs::ProcessId() &&
        ::kill(static_cast<pid_t>(copier), 0) != 0 && errno == ESRCH) {
      FinishRewrite(folder + "/" + e->d_name, file);
      continue;
    }
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
  target.OtherOwner = st.st_uid != ::geteuid();
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
  SyncFolderOf(file);  // makes the rename itself durable
  return 0;
}

int RewriteInPlace(const std::string& temp, const std::string& file) {
  TUniqueFd fd(OpenInPlace(file));
  if (!fd) return kNoRewrite;
  const std::string copy = SaveTempPrefix(file) + std::to_string(ProcessId()) + ".new";
  if (::rename(temp.c_str(), copy.c_str()) != 0) return kNoRewrite;
  SyncFolderOf(copy);
  bool touched = false;
  const int err = CopyInto(copy, fd.Get(), touched);
  // A rewrite that failed halfway keeps its copy: the next look at the
  // file (a load, a save) finishes it.
  if (err == 0 || !touched) ::unlink(copy.c_str());
  return err;
}

void Remove(const std::string& path) {
  const int err = errno;
  ::unlink(path.c_str());
  errno = err;
}

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

}  // namespace SaveFileOs
