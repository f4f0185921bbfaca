// Store files the POSIX way: pread, append, flock.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <pwd.h>
#include <cerrno>
#include <cstdlib>

#include "base/StoreFile.h"
#include "base/UniqueFd.h"

bool TStoreFile::Open(const std::string& path, bool create, bool lock) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
  if (fd < 0) {
    FError = errno;
    return false;
  }
  if (lock && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    FError = errno;
    ::close(fd);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    FError = errno;
    ::close(fd);
    return false;
  }
  FHandle = fd;
  FSize = static_cast<uint64_t>(st.st_size);
  return true;
}

void TStoreFile::Close() noexcept {
  if (FHandle == kNone) return;
  ::close(static_cast<int>(FHandle));  // the lock goes with the descriptor
  FHandle = kNone;
  FSize = 0;
}

bool TStoreFile::Append(std::string_view data) {
  const int fd = static_cast<int>(FHandle);
  // Written at the size known here, not O_APPEND: a torn write is cut off by
  // the next Truncate instead of staying in the middle.
  while (!data.empty()) {
    const ssize_t n = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(FSize));
    if (n < 0) {
      if (errno == EINTR) continue;
      FError = errno;
      return false;
    }
    FSize += static_cast<uint64_t>(n);
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool TStoreFile::ReadAt(uint64_t offset, void* buffer, std::size_t n) const {
  auto* out = static_cast<char*>(buffer);
  while (n > 0) {
    const ssize_t got = ::pread(static_cast<int>(FHandle), out, n, static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      FError = errno;
      return false;
    }
    if (got == 0) return false;  // shorter than asked
    out += got;
    offset += static_cast<uint64_t>(got);
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool TStoreFile::Truncate(uint64_t size) {
  if (::ftruncate(static_cast<int>(FHandle), static_cast<off_t>(size)) != 0) {
    FError = errno;
    return false;
  }
  FSize = size;
  return true;
}

bool StoreFileLocked(const std::string& path) {
  TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  return ::flock(fd.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeFolders(const std::string& folder) {
  for (std::size_t pos = 1;; ++pos) {
    pos = folder.find('/', pos);
    const std::string part = folder.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (pos == std::string::npos) break;
  }
  return IsFolder(folder);
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

bool RemoveEmptyFolder(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

uint64_t FreeDiskBytes(const std::string& folder) {
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

std::string CacheFolder(const std::string& program) {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && xdg[0] == '/') return JoinPath(xdg, program);
  const char* home = std::getenv("HOME");
  std::string base = home && home[0] == '/' ? home : "";
  if (base.empty())
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) base = pw->pw_dir;
  if (base.empty()) return {};
  return JoinPath(JoinPath(base, ".cache"), program);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}
