// vantrel-dump: the headless monitor.  Opens the port of the settings the way
// the window connects (same link, same reader thread, checked framing, the
// three time-outs) and prints one line per item as it is taken from the
// message queue; or frames a capture file.  Line format: DumpFormat.h.
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "DumpFormat.h"
#include "ToolCommon.h"
#include "bus/BusConnection.h"
#include "bus/Capture.h"
#include "config/IniFile.h"
#include "config/Settings.h"

namespace {

const char* const kUsage =
    "Usage: vantrel-dump [OPTIONS]\n"
    "Headless monitor of the Vantrel BUS: reads the port of the settings and prints\n"
    "one line per item: its bytes in hex, then a tab and what the window makes of\n"
    "it (device comment, called device and activity, central status, or \"log\").\n"
    "\n"
    "  --settings FILE   settings file (default: the one beside vVantrelBus)\n"
    "  --port NAME       read this port instead of the settings' Port\n"
    "  --file CAPTURE    frame a capture file instead of a port, then exit\n"
    "  --time a|d|z      prefix each line with its receive time: absolute, delta to\n"
    "                    the previous line, or since the start\n"
    "  --raw-log FILE    also write every byte received, unchanged, to FILE\n"
    "  --count N         stop after N items\n"
    "  --seconds N       stop after N seconds (decimals allowed)\n"
    "  --reconnect       when the port vanishes, wait for it to come back and read\n"
    "                    on (a line on stderr each time) instead of exiting\n"
    "  --show-settings   print the twelve settings as Key=value lines and exit\n"
    "  --help, --version\n"
    "\n"
    "Without --count or --seconds it runs until interrupted (Ctrl-C, SIGTERM).\n"
    "Exit status: 0 done (also when standard output is a pipe that was closed),\n"
    "1 port, file or settings error (also a port lost while reading, unless\n"
    "--reconnect), 2 bad options.\n"
    "\n"
    "Examples:\n"
    "  vantrel-dump --port /dev/ttyUSB0 --time z\n"
    "  vantrel-dump --port COM3 --time z             (Windows)\n"
    "  vantrel-dump --port /dev/serial/by-id/usb-Maker_Serial_A1B2-if00-port0 --reconnect\n"
    "  vantrel-dump --settings my.ini --raw-log run.bin --seconds 60\n"
    "  vantrel-dump --file run.bin\n";

int Usage(const std::string& message) {
  std::fprintf(stderr, "vantrel-dump: %s\n\n%s", message.c_str(), kUsage);
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "vantrel-dump: %s\n", message.c_str());
  return 1;
}

std::string ErrnoText(int err) {
#ifdef _WIN32
  return std::strerror(err);  // a buffer per thread there
#else
  char buf[256];
  return strerror_r(err, buf, sizeof buf);
#endif
}

// Woken by the queue, the reader's end notice and the signals.
std::atomic<bool> SignalSeen{false};
#ifdef _WIN32
HANDLE WakeEvent = nullptr;  // auto reset

void Wake() { SetEvent(WakeEvent); }

// Ctrl-C, Ctrl-Break and the console closing: stop as on SIGINT.
BOOL WINAPI OnConsoleEvent(DWORD) {
  SignalSeen = true;
  Wake();
  return TRUE;
}
#else
int WakePipe[2] = {-1, -1};

void Wake() {
  const char c = 1;
  [[maybe_unused]] auto r = write(WakePipe[1], &c, 1);  // full pipe: a wake-up is pending anyway
}

void OnSignal(int) {
  SignalSeen = true;
  Wake();
}
#endif

// The raw log's write error (errno), set on the reader thread.
std::atomic<int> RawError{0};

// Writes the bytes to the raw log unchanged; false, with the error in
// RawError, when it cannot.
bool WriteRawLog(int rawFd, std::string_view bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(rawFd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      RawError = errno;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

struct TOptions {
  std::string SettingsFile, Port, CaptureFile, RawLog;
  TTimeMode Time = TTimeMode::tmNone;
  uint64_t Count = 0;  // 0: no limit
  double Seconds = 0;  // 0: no limit
  bool ShowSettings = false;
  bool Reconnect = false;
};

// Why standard output first failed, kept at once: later clean-up (closing
// the port) changes errno.
int StdoutErrno = 0;

// One printed line; false when standard output cannot be written.
bool PrintLine(const std::string& line) {
  if (std::fputs(line.c_str(), stdout) >= 0 && std::fputc('\n', stdout) != EOF &&
      std::fflush(stdout) == 0)
    return true;
  if (StdoutErrno == 0) StdoutErrno = errno;
  return false;
}

// A reader that went away (| head) ends the run quietly, as it ends cat;
// any other failure (a full disk) is reported with its cause.
int StdoutFailed() {
  if (StdoutErrno == EPIPE) return 0;
  return Fail("cannot write standard output: " + ErrnoText(StdoutErrno));
}

#ifdef _WIN32
// Binary, or every line feed received would gain a carriage return.
int OpenRawLog(const std::string& path) {
  return _wopen(Widen(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}
int fsync(int fd) { return _commit(fd); }
#else
int OpenRawLog(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}
#endif

int CloseRawLog(int fd, const std::string& path) {
  if (fd >= 0 && (fsync(fd) != 0 && errno != EINVAL && errno != EROFS)) {
    const int err = errno;
    close(fd);
    return Fail("cannot write " + path + ": " + ErrnoText(err));
  }
  if (fd >= 0 && close(fd) != 0) return Fail("cannot write " + path + ": " + ErrnoText(errno));
  return 0;
}

// Frames the capture as it is read, so a capture of any size (or an endless
// one such as a device file) needs bounded memory.
int DumpCapture(const TOptions& opt) {
  std::FILE* f = std::fopen(opt.CaptureFile.c_str(), "rb");
  if (!f) return Fail("cannot read " + opt.CaptureFile + ": " + ErrnoText(errno));
  const int rawFd = opt.RawLog.empty() ? -1 : OpenRawLog(opt.RawLog);
  if (!opt.RawLog.empty() && rawFd < 0) {
    const int err = errno;
    std::fclose(f);
    return Fail("cannot write " + opt.RawLog + ": " + ErrnoText(err));
  }
  uint64_t printed = 0;
  std::string failure;  // set when an item could not be written out
  bool stdoutFailed = false;
  // The raw log gets the bytes the printed items came from: all of them
  // unless --count cuts the run short.
  TCaptureFramer framer([&](std::string_view item) {
    if (opt.Count && printed == opt.Count) return false;
    if (!PrintLine(DumpItemText(item, Settings.MaxLoko))) {
      stdoutFailed = true;
      return false;
    }
    ++printed;
    if (rawFd >= 0 && !WriteRawLog(rawFd, item)) {
      failure = "cannot write " + opt.RawLog + ": " + ErrnoText(RawError);
      return false;
    }
    return !(opt.Count && printed == opt.Count);
  });
  char buf[65536];
  bool go = true;
  std::size_t n;
  while (go && (n = std::fread(buf, 1, sizeof buf, f)) > 0)
    go = framer.Feed(std::string_view(buf, n));
  if (go && std::ferror(f))
    failure = "cannot read " + opt.CaptureFile + ": " + ErrnoText(errno);
  else if (go)
    framer.Finish();
  std::fclose(f);
  if (stdoutFailed) {
    if (rawFd >= 0) close(rawFd);
    return StdoutFailed();
  }
  if (!failure.empty()) {
    if (rawFd >= 0) close(rawFd);
    return Fail(failure);
  }
  return CloseRawLog(rawFd, opt.RawLog);
}

// One line per item taken from the queue, with the time the reader cut it,
// as long as --count allows and standard output takes them.
struct TItemPrinter {
  const TOptions& Opt;
  int64_t StartUs = WallClockUs();
  int64_t PreviousUs = 0;
  uint64_t Printed = 0;
  bool Failed = false;  // standard output could not be written

  bool Full() const { return Opt.Count && Printed == Opt.Count; }
  void PrintQueued() {
    TQueuedItem item;
    while (!Failed && !Full() && (QueueTakeFirst(item), !item.Bytes.empty())) {
      Failed = !PrintLine(DumpTimePrefix(Opt.Time, item.TimeUs, PreviousUs, StartUs) +
                          DumpItemText(item.Bytes, Settings.MaxLoko));
      PreviousUs = item.TimeUs;
      ++Printed;
    }
  }
};

// Prints what the reader queues until the time is up (seconds, 0: no limit),
// --count is reached, a signal comes or a write fails.  service is asked
// after every wake-up; true when the connection ended (the reader stopped by
// itself and nothing follows).
bool PrintUntilDone(TItemPrinter& printer, const std::function<bool()>& service, double seconds) {
  using TClock = std::chrono::steady_clock;
  const auto deadline = TClock::now() + std::chrono::duration_cast<TClock::duration>(
                                            std::chrono::duration<double>(seconds));
  for (;;) {
    int timeout = -1;
    if (seconds > 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
      if (left <= 0) break;
      timeout = static_cast<int>(std::min<long long>(left + 1, 1 << 30));
    }
#ifdef _WIN32
    if (WaitForSingleObject(WakeEvent, timeout < 0 ? INFINITE : static_cast<DWORD>(timeout)) ==
        WAIT_FAILED)
      break;
#else
    pollfd p{WakePipe[0], POLLIN, 0};
    if (poll(&p, 1, timeout) < 0 && errno != EINTR) break;
    char drain[64];
    while (read(WakePipe[0], drain, sizeof drain) > 0) {}
#endif
    printer.PrintQueued();
    if (printer.Failed || printer.Full() || SignalSeen || RawError != 0) break;
    if (service()) return true;
  }
  return false;
}

int DumpPort(const TOptions& opt) {
  const std::string port = Settings.Port;
  const int rawFd = opt.RawLog.empty() ? -1 : OpenRawLog(opt.RawLog);
  if (!opt.RawLog.empty() && rawFd < 0)
    return Fail("cannot write " + opt.RawLog + ": " + ErrnoText(errno));
#ifdef _WIN32
  WakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!WakeEvent) {
    CloseRawLog(rawFd, opt.RawLog);
    return Fail("cannot create an event: error " + std::to_string(GetLastError()));
  }
#else
  if (pipe2(WakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    const int err = errno;
    CloseRawLog(rawFd, opt.RawLog);
    return Fail("cannot create a pipe: " + ErrnoText(err));
  }
#endif

  TBusConnection connection;
  if (rawFd >= 0)
    connection.SetOnChunk([rawFd](std::string_view bytes, int64_t) {
      if (RawError == 0 && !WriteRawLog(rawFd, bytes)) Wake();
    });
  connection.SetOnTerminate([](TReadComDaemon*) { Wake(); });
  // Reconnecting: one line on stderr when the port goes and one when it is
  // back (a capture being recorded would mark the same gap here).
  connection.SetReconnect(opt.Reconnect);
  connection.SetOnWake(Wake);
  connection.SetOnGap([&connection](int64_t fromUs, int64_t toUs) {
    std::fprintf(stderr, "vantrel-dump: port back: %s after %.3f s\n",
                 QuotedPortName(connection.Port()).c_str(), double(toUs - fromUs) / 1e6);
  });
  SetQueueWakeup(Wake);
  const TBusConnection::TLine line{
      Settings.Baud,         Settings.Bits,        ParityLetter(Settings.Parity),
      Settings.StopBit,      Settings.SoftFlow,    Settings.HardFlow,
      Settings.SleepTimeout, Settings.RecvTimeout, Settings.WaitTimeout};
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  const bool open = connection.Open(port, line);
  auto service = [&] { return connection.Service(); };
#else
  // The reader thread starts with the signals blocked, so they always land here.
  sigset_t signals, old;
  sigemptyset(&signals);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&signals, s);
    sigaction(s, &sa, nullptr);
  }
  pthread_sigmask(SIG_BLOCK, &signals, &old);
  const bool open = connection.Open(port, line);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  // Threads that Service() starts (a new reader, the port watch) get the
  // signals blocked too.
  auto service = [&] {
    pthread_sigmask(SIG_BLOCK, &signals, &old);
    const TBusConnection::TEvent event = connection.Service();
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return event;
  };
#endif
  if (!open) {
    SetQueueWakeup({});
    CloseRawLog(rawFd, opt.RawLog);
    return Fail(PortErrorTextEnglish(connection.Error()));
  }
  auto ended = [&] {
    const TBusConnection::TEvent event = service();
    if (event == TBusConnection::evLost)
      std::fprintf(stderr, "vantrel-dump: port lost: %s: %s; waiting\n",
                   QuotedPortName(port).c_str(), connection.Error().SystemText.c_str());
    return event == TBusConnection::evEnded;
  };
  Wake();  // items left in the queue are taken at once
  TItemPrinter printer{opt};
  bool lost = PrintUntilDone(printer, ended, opt.Seconds);
  // A reader that ended by itself just before another reason to stop.
  if (!lost && !opt.Reconnect && connection.Reader() && connection.Reader()->Finished())
    lost = service() == TBusConnection::evEnded;

  // Disconnect as the window does: close the port, then stop the reader.
  connection.Close();
  SetQueueWakeup({});
  printer.PrintQueued();  // what the reader queued before it stopped was received

  int rc = 0;
  if (printer.Failed) rc = StdoutFailed();
  if (RawError != 0) rc = Fail("cannot write " + opt.RawLog + ": " + ErrnoText(RawError));
  if (lost) rc = Fail(PortErrorTextEnglish(connection.Error()));
  if (const int r = CloseRawLog(rawFd, opt.RawLog); r != 0) rc = r;
  return rc;
}

// The letters only tell the options apart: no short option is accepted.
const option kOptions[] = {
    {"settings", required_argument, nullptr, 's'}, {"port", required_argument, nullptr, 'p'},
    {"file", required_argument, nullptr, 'f'},     {"time", required_argument, nullptr, 't'},
    {"raw-log", required_argument, nullptr, 'r'},  {"count", required_argument, nullptr, 'c'},
    {"seconds", required_argument, nullptr, 'S'},  {"reconnect", no_argument, nullptr, 'R'},
    {"show-settings", no_argument, nullptr, 'w'},  {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},        {nullptr, 0, nullptr, 0}};

}  // namespace

int main(int argc, char** argv) {
  TOptions opt;
  bool havePort = false;
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, "", kOptions, nullptr)) != -1) {
    const std::string value = optarg ? optarg : "";
    switch (c) {
      case 's':
        opt.SettingsFile = value;
        break;
      case 'p':
        if (value.empty()) return Usage("--port needs a port name");
        opt.Port = value;
        havePort = true;
        break;
      case 'f':
        opt.CaptureFile = value;
        break;
      case 't':
        if (value == "a")
          opt.Time = TTimeMode::tmAbsolute;
        else if (value == "d")
          opt.Time = TTimeMode::tmDelta;
        else if (value == "z")
          opt.Time = TTimeMode::tmZero;
        else
          return Usage("invalid --time '" + value +
                       "': a (absolute), d (delta) or z (since start)");
        break;
      case 'r':
        opt.RawLog = value;
        break;
      case 'c':
        if (!ParseUnsigned(optarg, UINT64_MAX, opt.Count) || opt.Count == 0)
          return Usage("invalid --count '" + value + "': a whole number above 0");
        break;
      case 'S':
        if (!ParseDouble(optarg, 0, 1e7, opt.Seconds) || opt.Seconds <= 0)
          return Usage("invalid --seconds '" + value + "': a number above 0");
        break;
      case 'w':
        opt.ShowSettings = true;
        break;
      case 'R':
        opt.Reconnect = true;
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        return 0;
      case 'V':
        std::printf("vantrel-dump %s\n", VANTREL_VERSION);
        return 0;
      default: {
        const std::string bad = optind > 1 && optind - 1 < argc ? argv[optind - 1] : "?";
        return Usage(optopt ? "option " + bad + " needs a value" : "unknown option " + bad);
      }
    }
  }
  if (optind < argc) return Usage(std::string("unexpected argument '") + argv[optind] + "'");
  if (!opt.CaptureFile.empty()) {
    if (havePort) return Usage("--file and --port exclude each other");
    if (opt.Time != TTimeMode::tmNone)
      return Usage("--time cannot be used with --file: a capture holds no receive times");
    if (opt.Seconds > 0) return Usage("--seconds cannot be used with --file");
    if (opt.Reconnect) return Usage("--reconnect cannot be used with --file");
  }

  if (!opt.SettingsFile.empty()) {
#ifdef _WIN32
    const std::wstring wide = Widen(opt.SettingsFile);
    if (_waccess(wide.c_str(), 4) != 0)
      return Fail("cannot read settings file " + opt.SettingsFile + ": " + ErrnoText(errno));
    struct _stat64 st {};
    if (_wstat64(wide.c_str(), &st) == 0 && (st.st_mode & _S_IFDIR))
#else
    // A missing default file means defaults; a file named on purpose must be there.
    if (access(opt.SettingsFile.c_str(), R_OK) != 0)
      return Fail("cannot read settings file " + opt.SettingsFile + ": " + ErrnoText(errno));
    // A folder passes the access test but holds no settings: it would mean defaults unnoticed.
    struct stat st {};
    if (stat(opt.SettingsFile.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
#endif
      return Fail("cannot read settings file " + opt.SettingsFile + ": " + ErrnoText(EISDIR));
    SetSettingsFileName(opt.SettingsFile);
  } else {
    SetSettingsFileName(SiblingSettingsFileName("vVantrelBus"));  // the window's settings
  }
  if (const int error = LoadSettings())
    return Fail("cannot read settings file " + SettingsFileName() + ": " + IniErrorText(error));
  if (havePort) Settings.Port = opt.Port;
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);  // the Czech texts are UTF-8
#else
  signal(SIGPIPE, SIG_IGN);  // a closed output pipe shows as a write error
#endif

  if (opt.ShowSettings) {
    std::string text = SettingsToText(Settings);
    if (!text.empty() && text.back() != '\n') text += '\n';
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
      StdoutErrno = errno;
      return StdoutFailed();
    }
    return 0;
  }
  return opt.CaptureFile.empty() ? DumpPort(opt) : DumpCapture(opt);
}
