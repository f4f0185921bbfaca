// TBlockSerial's platform layer for POSIX ttys: non-blocking descriptor,
// termios, poll with a wake pipe, modem-control ioctls.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>

#include "base/UniqueFd.h"
#include "serial/BlockSerial.h"
#ifdef __linux__
#include <linux/serial.h>

#include "serial/LinuxBaud.h"
#endif

struct TBlockSerial::TOsSaved {
  struct termios Termios {};  // as found at open, restored at close
  uint32_t Baud = 0;
  // The flow-control limits have no termios counterpart; the port keeps the
  // last applied ones so that FetchLineState reads them back.
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
#ifdef __linux__
  bool HaveCounters = false;
  struct serial_icounter_struct Counters {};
#endif
};

namespace {

struct TSpeed {
  uint32_t Rate;
  speed_t Code;
};

constexpr TSpeed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},
#ifdef B460800
    {460800, B460800},   {500000, B500000},   {576000, B576000},   {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};

bool SpeedCode(uint32_t rate, speed_t& code) {
  for (const auto& s : kSpeeds)
    if (s.Rate == rate) {
      code = s.Code;
      return true;
    }
  return false;
}

uint32_t SpeedRate(speed_t code) {
  for (const auto& s : kSpeeds)
    if (s.Code == code) return s.Rate;
  return 0;
}

// Milliseconds left until deadline; -1 waits without limit.
int Remaining(bool unlimited, std::chrono::steady_clock::time_point deadline) {
  if (unlimited) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

}  // namespace

void TBlockSerial::TOsSavedDelete::operator()(TOsSaved* saved) const { delete saved; }

int TBlockSerial::OsOpen(const std::string& path) {
  TUniqueFd port(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!port) return errno == EBUSY ? ErrorPortOwned : errno;  // EBUSY: exclusive by its owner
  const int fd = port.Get();

  // Held by another process or another object: leave it alone (no ioctl that
  // would change its exclusive mode or line).
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return ErrorPortOwned;
  decltype(FSaved) saved(new TOsSaved);
  if (::tcgetattr(fd, &saved->Termios) != 0) return errno;  // no tty: a file, /dev/null
  ::ioctl(fd, TIOCEXCL);  // further opens refused (owner processes excepted)
  saved->Baud = SpeedRate(cfgetospeed(&saved->Termios));
#ifdef __linux__
  LinuxGetBaud(fd, saved->Baud);
  saved->HaveCounters = ::ioctl(fd, TIOCGICOUNT, &saved->Counters) == 0;
#endif

  struct termios raw = saved->Termios;
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  raw.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  int wake[2] = {-1, -1};
  int err = ::tcsetattr(fd, TCSANOW, &raw) != 0 ? errno : 0;
  if (err == 0 && ::pipe(wake) != 0) err = errno;
  TUniqueFd wakeRead(wake[0]), wakeWrite(wake[1]);
  if (err == 0) {
    for (int w : wake) {
      ::fcntl(w, F_SETFD, FD_CLOEXEC);
      ::fcntl(w, F_SETFL, O_NONBLOCK);
    }
  }
  if (err != 0) {
    ::ioctl(fd, TIOCNXCL);
    ::tcsetattr(fd, TCSANOW, &saved->Termios);
    return err;
  }

  std::lock_guard<std::mutex> lock(FStateLock);
  FSaved = std::move(saved);
  FWakeRead = std::move(wakeRead);
  FWakeWrite = std::move(wakeWrite);
  FHandle.store(port.Release());
  return 0;
}

void TBlockSerial::OsClose() {
  TUniqueFd port(FHandle.load());
  if (const int fd = port.Get(); fd >= 0) {
    if (FSaved) {
      ::tcsetattr(fd, TCSANOW, &FSaved->Termios);
#ifdef __linux__
      speed_t code;
      if (FSaved->Baud != 0 && !SpeedCode(FSaved->Baud, code)) LinuxSetBaud(fd, FSaved->Baud);
#endif
    }
    ::ioctl(fd, TIOCNXCL);
  }
  port.Reset();  // also drops the flock
  FHandle.store(-1);
  FWakeRead.Reset();
  FWakeWrite.Reset();
  FSaved.reset();
}

void TBlockSerial::OsWake() {
  if (FWakeWrite) WriteAll(FWakeWrite.Get(), "\x01");  // a full pipe wakes as well
}

int TBlockSerial::OsApplyLineState(const TLineState& state) {
  if (state.BaudRate == 0 || state.BaudRate > INT_MAX || state.ByteSize < 5 || state.ByteSize > 8 ||
      state.Parity > 4 || state.StopBits > 2)
    return EINVAL;
  const int fd = FHandle.load();
  struct termios t {};
  if (::tcgetattr(fd, &t) != 0) return errno;

  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | INPCK | IGNPAR);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | HUPCL
#ifdef CMSPAR
                                      | CMSPAR
#endif
#ifdef CRTSCTS
                                      | CRTSCTS
#endif
  );
  t.c_cflag |= CLOCAL | CREAD;
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[state.ByteSize - 5];
  switch (state.Parity) {
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      t.c_cflag |= PARENB;
      break;
#ifdef CMSPAR
    case 3:
      t.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case 4:
      t.c_cflag |= PARENB | CMSPAR;
      break;
#else
    case 3:
    case 4:
      return EINVAL;
#endif
    default:
      break;
  }
  // Parity errors are counted by the driver and reported as line errors; the
  // byte itself is delivered as received (no INPCK, which would zero it).
  if (state.StopBits != 0) t.c_cflag |= CSTOPB;  // 1.5 with five data bits, else 2
  if (state.Flags & (kDcbOutxCtsFlow | kDcbRtsHandshake)) {
#ifdef CRTSCTS
    t.c_cflag |= CRTSCTS;
#else
    return EINVAL;
#endif
  }
  if (state.Flags & kDcbOutX) t.c_iflag |= IXON;
  if (state.Flags & kDcbInX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(state.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(state.XoffChar);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;

  speed_t code;
  const bool standard = SpeedCode(state.BaudRate, code);
#ifndef __linux__
  if (!standard) return EINVAL;
#endif
  if (!standard) code = B38400;  // replaced by the exact rate below
  cfsetispeed(&t, code);
  cfsetospeed(&t, code);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return errno;
#ifdef __linux__
  if (!standard)
    if (const int err = LinuxSetBaud(fd, state.BaudRate)) return err;
#endif
  FSaved->XonLim = state.XonLim;
  FSaved->XoffLim = state.XoffLim;
  return 0;
}

int TBlockSerial::OsFetchLineState(TLineState& state) {
  const int fd = FHandle.load();
  struct termios t {};
  if (::tcgetattr(fd, &t) != 0) return errno;
  uint32_t baud = SpeedRate(cfgetospeed(&t));
#ifdef __linux__
  LinuxGetBaud(fd, baud);
#endif
  TLineState s;
  s.DCBlength = sizeof(TLineState);
  s.BaudRate = baud;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      s.ByteSize = 5;
      break;
    case CS6:
      s.ByteSize = 6;
      break;
    case CS7:
      s.ByteSize = 7;
      break;
    default:
      s.ByteSize = 8;
      break;
  }
  if (t.c_cflag & PARENB) {
    const bool odd = (t.c_cflag & PARODD) != 0;
#ifdef CMSPAR
    if (t.c_cflag & CMSPAR)
      s.Parity = odd ? 3 : 4;
    else
#endif
      s.Parity = odd ? 1 : 2;
  }
  if (t.c_cflag & CSTOPB) s.StopBits = s.ByteSize == 5 ? 1 : 2;
  uint32_t flags = kDcbBinary | kDcbDtrEnable;
  if (s.Parity != 0) flags |= kDcbParity;
#ifdef CRTSCTS
  if (t.c_cflag & CRTSCTS)
    flags |= kDcbOutxCtsFlow | kDcbRtsHandshake;
  else
#endif
    flags |= kDcbRtsEnable;
  if (t.c_iflag & IXON) flags |= kDcbOutX;
  if (t.c_iflag & IXOFF) flags |= kDcbInX;
  s.Flags = flags;
  s.XonChar = t.c_cc[VSTART];
  s.XoffChar = t.c_cc[VSTOP];
  s.XonLim = FSaved->XonLim;
  s.XoffLim = FSaved->XoffLim;
  state = s;
  return 0;
}

int TBlockSerial::OsBytesWaiting(int& count) {
  count = 0;
  return ::ioctl(FHandle.load(), FIONREAD, &count) == 0 ? 0 : errno;
}

int TBlockSerial::OsRead(char* buffer, int count, int& got) {
  got = 0;
  for (;;) {
    const ssize_t r = ::read(FHandle.load(), buffer, static_cast<size_t>(count));
    if (r >= 0) {
      got = static_cast<int>(r);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return errno;
  }
}

int TBlockSerial::OsWrite(const char* buffer, int count, int& written) {
  written = 0;
  const int fd = FHandle.load();
  const bool unlimited = FDeadlockTimeout < 0;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(FDeadlockTimeout);
  while (written < count) {
    const ssize_t w = ::write(fd, buffer + written, static_cast<size_t>(count - written));
    if (w > 0) {
      written += static_cast<int>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    // Output queue full: wait for room, a close or the deadline.
    struct pollfd fds[2] = {{fd, POLLOUT, 0}, {FWakeRead.Get(), POLLIN, 0}};
    const int r = ::poll(fds, 2, Remaining(unlimited, deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return errno;
    if (r == 0) return ErrorTimeout;
    if (fds[1].revents) return ErrorNotOpen;
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return EIO;
  }
  return 0;
}

int TBlockSerial::OsWaitReadable(int timeoutMs, bool& readable) {
  readable = false;
  const int fd = FHandle.load();
  const bool unlimited = timeoutMs < 0;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
  for (;;) {
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {FWakeRead.Get(), POLLIN, 0}};
    const int r = ::poll(fds, 2, Remaining(unlimited, deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return errno;
    if (r == 0) return 0;
    if (fds[1].revents) return ErrorNotOpen;  // ClosePort is waiting for us
    const short ev = fds[0].revents;
    if (ev & (POLLERR | POLLHUP | POLLNVAL)) {
      // Bytes that arrived before the hang-up are still handed over.
      int n = 0;
      if ((ev & POLLIN) && ::ioctl(fd, FIONREAD, &n) == 0 && n > 0) {
        readable = true;
        return 0;
      }
      return EIO;
    }
    if (ev & POLLIN) {
      readable = true;
      return 0;
    }
  }
}

int TBlockSerial::OsPurge() { return ::tcflush(FHandle.load(), TCIOFLUSH) == 0 ? 0 : errno; }

int TBlockSerial::OsPurgeOutput() { return ::tcflush(FHandle.load(), TCOFLUSH) == 0 ? 0 : errno; }

int TBlockSerial::OsOutputQueue(int& count) {
  const int fd = FHandle.load();
  count = 0;
  if (::ioctl(fd, TIOCOUTQ, &count) != 0) return errno;
#ifdef TIOCSERGETLSR
  // A UART also holds the character being shifted out.
  unsigned int lsr = 0;
  if (count == 0 && ::ioctl(fd, TIOCSERGETLSR, &lsr) == 0 && !(lsr & TIOCSER_TEMT)) count = 1;
#endif
  return 0;
}

void TBlockSerial::OsSetModemLine(bool dtr, bool on) {
  int bits = dtr ? TIOCM_DTR : TIOCM_RTS;
  ::ioctl(FHandle.load(), on ? TIOCMBIS : TIOCMBIC, &bits);
}

int TBlockSerial::OsModemStatus(uint32_t& status) {
  int bits = 0;
  status = 0;
  if (::ioctl(FHandle.load(), TIOCMGET, &bits) != 0) return errno;
  if (bits & TIOCM_CTS) status |= kMsCtsOn;
  if (bits & TIOCM_DSR) status |= kMsDsrOn;
  if (bits & TIOCM_RNG) status |= kMsRingOn;
  if (bits & TIOCM_CAR) status |= kMsRlsdOn;
  return 0;
}

uint32_t TBlockSerial::OsLineErrors() {
  uint32_t flags = 0;
#ifdef __linux__
  // Drivers that keep error counters: any growth since the last look is a
  // line error of that kind.
  if (!FSaved || !FSaved->HaveCounters) return 0;
  struct serial_icounter_struct now {};
  if (::ioctl(FHandle.load(), TIOCGICOUNT, &now) != 0) return 0;
  const auto& was = FSaved->Counters;
  if (now.frame != was.frame) flags |= kCeFrame;
  if (now.overrun != was.overrun) flags |= kCeOverrun;
  if (now.buf_overrun != was.buf_overrun) flags |= kCeRxOver;
  if (now.parity != was.parity) flags |= kCeRxParity;
  FSaved->Counters = now;
#endif
  return flags;
}
