// File descriptor ownership and WriteAll.
#include "base/UniqueFd.h"

#include <unistd.h>

#include <cerrno>

void TUniqueFd::Reset(int fd) noexcept {
  if (FFd >= 0 && FFd != fd) {
    const int err = errno;
    ::close(FFd);
    errno = err;
  }
  FFd = fd;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {  // never spin on a sink that takes nothing
      errno = EIO;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}
