// Two connected serial ends for the serial and reader tests: the test plays
// the central on one end, the code under test opens the other by Path.
//
// Linux: a pseudo-terminal; the test holds the master (and the slave, so that
// its settings can be inspected).  Windows: two COM ports joined like a
// null-modem cable, named by VANTREL_TEST_PORT (opened by the code under test)
// and VANTREL_TEST_PEER (the central's end); scripts/test-windows sets them.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "serial/BlockSerial.h"

struct TPortPair {
  std::string Path;     // empty when the pair could not be made
  std::string Problem;  // why not

#ifdef _WIN32
  HANDLE Peer = INVALID_HANDLE_VALUE;

  TPortPair() {
    const char* port = std::getenv("VANTREL_TEST_PORT");
    const char* peer = std::getenv("VANTREL_TEST_PEER");
    if (!port || !*port || !peer || !*peer) {
      Problem = "VANTREL_TEST_PORT and VANTREL_TEST_PEER must name two connected COM ports";
      return;
    }
    const std::string peerPath = std::string("\\\\.\\") + peer;
    Peer = CreateFileA(peerPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
    if (Peer == INVALID_HANDLE_VALUE) {
      Problem = "cannot open " + peerPath + ": error " + std::to_string(GetLastError());
      return;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(Peer, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutX = dcb.fInX = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
    SetCommState(Peer, &dcb);
    PurgeComm(Peer, PURGE_RXCLEAR | PURGE_TXCLEAR);
    Path = port;
  }
  ~TPortPair() {
    if (Peer != INVALID_HANDLE_VALUE) CloseHandle(Peer);
    // What is still on its way must not reach the next test's port before
    // that port's open purges it.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  bool Send(const std::string& bytes) const {
    DWORD done = 0;
    return WriteFile(Peer, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
           done == bytes.size();
  }
  // Up to n bytes the code under test wrote, waiting at most timeoutMs.
  std::string Receive(size_t n, int timeoutMs = 2000) const {
    COMMTIMEOUTS t{};
    t.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutMs);
    SetCommTimeouts(Peer, &t);
    std::string got(n, '\0');
    DWORD done = 0;
    if (!ReadFile(Peer, got.data(), static_cast<DWORD>(n), &done, nullptr)) done = 0;
    got.resize(done);
    return got;
  }
#else
  int Master = -1;
  int Slave = -1;

  TPortPair() {
    char name[256] = {};
    if (openpty(&Master, &Slave, name, nullptr, nullptr) != 0) {
      Problem = "openpty failed";
      return;
    }
    Path = name;
    // Raw until the code under test sets the line up: nothing echoed back.
    termios t{};
    tcgetattr(Slave, &t);
    cfmakeraw(&t);
    tcsetattr(Slave, TCSANOW, &t);
  }
  ~TPortPair() {
    CloseMaster();
    if (Slave >= 0) close(Slave);
  }
  // The central's side hangs up, as an unplugged adapter does.
  void CloseMaster() {
    if (Master >= 0) close(Master);
    Master = -1;
  }
  bool Send(const std::string& bytes) const {
    return write(Master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  std::string Receive(size_t n, int timeoutMs = 2000) const {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
      pollfd p{Master, POLLIN, 0};
      if (poll(&p, 1, 10) != 1) continue;
      char buf[4096];
      const ssize_t r = read(Master, buf, std::min(sizeof buf, n - got.size()));
      if (r <= 0) break;
      got.append(buf, static_cast<size_t>(r));
    }
    return got;
  }
  termios Settings() const {
    termios t{};
    tcgetattr(Slave, &t);
    return t;
  }
#endif
};

// Waits until the open port holds at least n input bytes (the other end hands
// them over asynchronously).
inline bool WaitQueued(TBlockSerial& port, int n, int timeoutMs = 2000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (port.BytesWaiting() >= n) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

inline long long MillisSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               t0)
      .count();
}
