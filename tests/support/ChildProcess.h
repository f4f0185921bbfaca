// Runs a piece of a test in a forked child, optionally without root rights:
// permission bits do not bind root, so cases about them run as an
// unprivileged user when the tests run as root.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace test_support {

constexpr uid_t kNobody = 65534;

inline bool DropRights() {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

// Runs fn in a child process (without root rights when dropRights) and
// returns what it returned; "!rights" when the rights could not be dropped.
inline std::string RunInChild(const std::function<std::string()>& fn, bool dropRights) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "!pipe";
  pid_t pid = ::fork();
  if (pid < 0) return "!fork";
  if (pid == 0) {
    ::close(pipeFds[0]);
    std::string out = !dropRights || DropRights() ? fn() : "!rights";
    [[maybe_unused]] auto n = ::write(pipeFds[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
    out.append(buf, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return out;
}

inline std::string RunUnprivileged(const std::function<std::string()>& fn) {
  return RunInChild(fn, true);
}

}  // namespace test_support
