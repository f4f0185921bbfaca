// A pseudo-terminal for the serial tests: the test plays the central on the
// master side, the code under test opens the slave by its path.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

struct TPtyPair {
  int Master = -1;
  int Slave = -1;  // kept open so the tty's settings can be inspected
  std::string Path;

  TPtyPair() {
    char name[256] = {};
    if (openpty(&Master, &Slave, name, nullptr, nullptr) == 0) Path = name;
  }
  ~TPtyPair() {
    CloseMaster();
    if (Slave >= 0) close(Slave);
  }
  void CloseMaster() {
    if (Master >= 0) close(Master);
    Master = -1;
  }
  bool Send(const std::string& bytes) const {
    return write(Master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Waits until the tty holds at least n input bytes (the pty hands them over
  // asynchronously).
  bool WaitQueued(int n, int timeoutMs = 2000) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      int q = 0;
      if (ioctl(Slave, FIONREAD, &q) == 0 && q >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
  termios Settings() const {
    termios t{};
    tcgetattr(Slave, &t);
    return t;
  }
};

inline long long MillisSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               t0)
      .count();
}
