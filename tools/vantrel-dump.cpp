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

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "DumpAnalysis.h"
#include "DumpFormat.h"
#include "DumpOutput.h"
#include "ToolCommon.h"
#include "analysis/Trigger.h"
#include "base/SameFile.h"
#include "base/Text.h"
#include "bus/BusConnection.h"
#include "bus/ItemClock.h"
#include "bus/RawFraming.h"
#include "capture/CaptureReader.h"
#include "capture/CaptureRecorder.h"
#include "config/IniFile.h"
#include "config/Settings.h"

namespace {

const char* const kUsage =
    "Usage: vantrel-dump [OPTIONS]\n"
    "Headless monitor of the Vantrel BUS: reads the port of the settings and prints\n"
    "one line per item: its bytes in hex, then a tab and what the window makes of\n"
    "it (device comment, called device and activity, central status, or \"log\").\n"
    "\n"
    "  --settings FILE   settings file (default: the window's, see below)\n"
    "  --port NAME       read this port instead of the settings' Port\n"
    "  --baud N, --bits 5-8, --parity n|o|e|m|s, --stop 1|1.5|2,\n"
    "  --flow none|rtscts|xonxoff|both\n"
    "                    line settings for this run instead of the file's (the\n"
    "                    file is not changed)\n"
    "  --file CAPTURE    frame a capture file (a capture log or raw bytes, either\n"
    "                    maybe gzip-compressed; - for standard input) instead of\n"
    "                    a port, then exit\n"
    "  --time a|l|d|z    prefix each line with its item's time: absolute (seconds\n"
    "                    since the epoch), local time of day as the window shows\n"
    "                    it, delta to the previous line, or since the start (with\n"
    "                    --file: from the times the capture log recorded)\n"
    "  --hide-calls      leave out call bytes and the idle byte 1F, as the window's\n"
    "                    traffic view does by default\n"
    "  --capture FILE    also record a capture log: every read with its time\n"
    "                    (gzip-compressed when FILE ends in .gz)\n"
    "  --raw-log FILE    also write every byte received, unchanged, to FILE\n"
    "  --count N         stop after N items\n"
    "  --seconds N       stop after N seconds (decimals allowed)\n"
    "  --stats [N]       print the statistics of every device at the end (every N\n"
    "                    seconds of the items' time with N): messages, per second\n"
    "                    over the last 10 s and on average, first and last heard,\n"
    "                    silence, share of the bus's bytes, unrecognised bytes\n"
    "                    right after its call, \"mlčí\" when silent for longer\n"
    "                    than SilenceLimit of [Monitor] (default 5 s)\n"
    "  --events          print a line per event as it happens, among the items:\n"
    "                    \"@ TIME KIND TEXT\", KIND one of power (power state, with\n"
    "                    how long the one before lasted), load (current above\n"
    "                    LoadLimit % of the maximum, default 80), silent, back (a\n"
    "                    device fell silent, talks again), burst (BurstBytes\n"
    "                    unrecognised bytes, default 16), gap (the line was lost)\n"
    "  --no-items        leave out the item lines (with --stats or --events)\n"
    "  --reconnect       when the port vanishes (or is missing at the start), wait\n"
    "                    for it and read on (a line on stderr each time) instead\n"
    "                    of exiting\n"
    "  --show-settings   print the twelve settings as Key=value lines and exit\n"
    "  --help, --version\n"
    "\n"
    "Without --count or --seconds it runs until interrupted (Ctrl-C, SIGTERM).\n"
    "Without --settings it reads the window's file: vVantrelBus.ini beside the\n"
    "window (vVantrelBus in this program's folder, or in ../src/app of a build\n"
    "tree) when that folder is writable and not under /usr, otherwise\n"
    "$XDG_CONFIG_HOME/vVantrelBus/vVantrelBus.ini (~/.config/vVantrelBus/);\n"
    "on Windows beside the .exe, or in %APPDATA%\\vVantrelBus\\.\n"

    "Exit status: 0 done (also when standard output is a pipe that was closed),\n"
    "1 port, file or settings error (also a port lost while reading, unless\n"
    "--reconnect; a recording or raw log cut short by a write error, while the\n"
    "monitor went on; malformed lines in a capture log; a capture cut short or\n"
    "damaged), 2 bad options (also one file named for two of --file, --capture\n"
    "and --raw-log).\n"
    "\n"
    "Examples:\n"
    "  vantrel-dump --port /dev/ttyUSB0 --time z\n"
    "  vantrel-dump --port COM3 --time z             (Windows)\n"
    "  vantrel-dump --port /dev/serial/by-id/usb-Maker_Serial_A1B2-if00-port0 --reconnect\n"
    "  vantrel-dump --settings my.ini --raw-log run.bin --seconds 60\n"
    "  vantrel-dump --port /dev/ttyUSB0 --capture run.vlog.gz\n"
    "  vantrel-dump --file run.vlog.gz --time z\n"
    "  zcat run.vlog.gz | vantrel-dump --file - --hide-calls\n"
    "  vantrel-dump --port /dev/ttyUSB0 --baud 115200 --parity n --time l\n"
    "  vantrel-dump --file run.bin\n"
    "  vantrel-dump --file run.vlog.gz --stats --events --no-items\n"
    "  vantrel-dump --port /dev/ttyUSB0 --stats 10 --no-items\n";

// A bad option: its reason and where to look, not the whole usage.
int Usage(const std::string& message) {
  std::fprintf(
      stderr, "vantrel-dump: %s\nUsage: vantrel-dump [OPTIONS]  (vantrel-dump --help lists them)\n",
      message.c_str());
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "vantrel-dump: %s\n", message.c_str());
  return 1;
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

// Lines gathered beyond this size leave at once, so that a long backlog or a
// large capture file needs no large buffer.
constexpr std::size_t kDumpBatchBytes = 60000;

// The raw log's write error (errno, or kRawStalled), set on the thread that
// writes it (the reader's, or the main one for --file).
constexpr int kRawStalled = -1;
std::atomic<int> RawError{0};

// A pipe or a terminal as the raw log must not hold the reader: what it
// cannot take now waits here for the next read, and a target that takes
// nothing for kRawStallUs, or lets kRawBacklog pile up, stops the raw log.
constexpr int64_t kRawStallUs = 5000000;
constexpr std::size_t kRawBacklog = std::size_t(16) << 20;
std::string RawPending;
int64_t RawStalledSinceUs = 0;

std::string RawErrorText(int err) {
  if (err == kRawStalled) return "it takes no data (a pipe that nobody reads?)";
  if (err == ENXIO) return SystemErrorText(err) + " (a pipe that nobody reads?)";
  return SystemErrorText(err);
}

int64_t SteadyUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Waits up to ms for the raw log to take more (mayWait callers only).
void WaitForRawLog([[maybe_unused]] int rawFd, int ms) {
#ifdef _WIN32
  Sleep(static_cast<DWORD>(ms));
#else
  pollfd p{rawFd, POLLOUT, 0};
  poll(&p, 1, ms);
#endif
}

// Writes what waits and then the bytes to the raw log unchanged; false, with
// the error in RawError, when it cannot.  Without mayWait nothing waits for
// the target (the reader's thread); with it the writer waits for the target
// up to the stall limit, or until a signal.
bool WriteRawLog(int rawFd, std::string_view bytes, bool mayWait = false) {
  RawPending.append(bytes);
  std::size_t done = 0;
  bool ok = true;
  while (done < RawPending.size()) {
    const ssize_t n = write(rawFd, RawPending.data() + done, RawPending.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      RawStalledSinceUs = 0;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int64_t now = SteadyUs();
      if (RawStalledSinceUs == 0) RawStalledSinceUs = now;
      if (now - RawStalledSinceUs >= kRawStallUs || RawPending.size() - done > kRawBacklog) {
        RawError = kRawStalled;
        ok = false;
        break;
      }
      if (!mayWait || SignalSeen) break;
      WaitForRawLog(rawFd, 100);
      continue;
    }
    RawError = errno;
    ok = false;
    break;
  }
  RawPending.erase(0, done);
  return ok;
}

struct TOptions {
  std::string SettingsFile, Port, CaptureFile, RawLog, CaptureLog;
  TTimeMode Time = TTimeMode::tmNone;
  bool LocalTime = false;  // --time l: of day, as the window shows it
  bool HideCalls = false;
  uint64_t Count = 0;  // 0: no limit
  double Seconds = 0;  // 0: no limit
  bool ShowSettings = false;
  bool Reconnect = false;
  bool Stats = false;
  double StatsEvery = 0;  // seconds; 0: the table at the end only
  bool Events = false;
  bool NoItems = false;

  double StatsMode() const { return Stats ? StatsEvery : -1; }
};

// A reader that went away (| head) ends the run quietly, as it ends cat;
// any other failure (a full disk) is reported with its cause, taken where
// the write failed: later clean-up (closing the port) changes errno.
int StdoutFailed(int err) {
  if (err == EPIPE) return 0;
  return Fail("cannot write standard output: " + SystemErrorText(err));
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
  // Not waiting for a pipe's reader: one that nobody reads is refused at once.
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
}
#endif

int CloseRawLog(int fd, const std::string& path) {
  // What the target had not taken yet gets a last second, not more: a stop
  // on a signal must stay prompt.
  if (fd >= 0 && RawError == 0 && !RawPending.empty()) {
    const int64_t until = SteadyUs() + 1000000;
    while (WriteRawLog(fd, {}) && !RawPending.empty() && SteadyUs() < until) WaitForRawLog(fd, 100);
    if (RawError == 0 && !RawPending.empty()) RawError = kRawStalled;
    if (RawError != 0) {
      close(fd);
      return Fail("cannot write " + path + ": " + RawErrorText(RawError));
    }
  }
  if (fd >= 0 && (fsync(fd) != 0 && errno != EINVAL && errno != EROFS)) {
    const int err = errno;
    close(fd);
    return Fail("cannot write " + path + ": " + SystemErrorText(err));
  }
  if (fd >= 0 && close(fd) != 0)
    return Fail("cannot write " + path + ": " + SystemErrorText(errno));
  return 0;
}

// Frames the capture as it is read, so a capture of any size (or an endless
// one such as a device file) needs bounded memory.  A capture log's reads
// are framed in order, each item with the time of the read that completed
// it; after a gap (a reconnect) the framing starts afresh, as a new reader
// does.  Malformed lines are reported and skipped.
int DumpFile(const TOptions& opt) {
  TCaptureReader in;
  if (!in.Open(opt.CaptureFile))
    return Fail("cannot read " + opt.CaptureFile + ": " + in.LastErrorText());
  if (!in.IsLog() && opt.Time != TTimeMode::tmNone)
    return Usage("--time needs a capture log; " + opt.CaptureFile +
                 " is a raw capture (bytes without times)");
  const int rawFd = opt.RawLog.empty() ? -1 : OpenRawLog(opt.RawLog);
  if (!opt.RawLog.empty() && rawFd < 0)
    return Fail("cannot write " + opt.RawLog + ": " + RawErrorText(errno));
  TDumpOutput out(stdout);
  TDumpLines lines(opt.Time, 0, Settings.MaxLoko, opt.LocalTime);
  bool haveStart = false;
  bool startFromFirstItem = false;
  bool haveChunk = false;
  uint64_t printed = 0;
  std::string failure;  // set when an item could not be written out
  bool stdoutFailed = false;
  // The raw log gets the bytes the printed items came from: all of them
  // unless --count cuts the run short.
  // Each item at its last byte's estimated arrival, as it was shown live.
  TItemClock clock(LineByteTimeUs(Settings.Baud, Settings.Bits, ParityLetter(Settings.Parity),
                                  Settings.StopBit));
  TDumpAnalysis analysis(EventLimitsFrom(MonitorSettings.Analysis), opt.Events, opt.StatsMode());
  int64_t lastItemUs = 0;
  int64_t pendingGapUs = -1;  // a "# gap" waiting for the next read's time
  TCaptureFramer framer([&](std::string_view item) {
    if (opt.Count && printed == opt.Count) return false;
    if (rawFd >= 0 && !WriteRawLog(rawFd, item, true)) {
      failure = "cannot write " + opt.RawLog + ": " + RawErrorText(RawError);
      return false;
    }
    const int64_t itemUs = clock.ItemTime(framer.BytesAfter());
    // Without a recorded start "z" counts from the first item.
    if (startFromFirstItem) lines.SetStart(itemUs), startFromFirstItem = false;
    lastItemUs = itemUs;
    if (analysis.Active()) analysis.Take(item, itemUs, lines.Text());
    if (opt.HideCalls && IsCallOrIdle(item)) return true;
    if (!opt.NoItems) lines.Append(item, itemUs);
    ++printed;
    if (lines.Text().size() >= kDumpBatchBytes && !out.Write(lines.Text(), 0)) {
      stdoutFailed = true;
      return false;
    }
    return !(opt.Count && printed == opt.Count);
  });
  TCaptureItem item;
  bool go = true;
  while (go && in.Next(item)) {
    switch (item.Kind) {
      case TCaptureKind::ckChunk:
        if (!haveStart) startFromFirstItem = true;
        haveChunk = true;
        haveStart = true;
        clock.Read(item.HasTime() ? item.TimeUs : 0);
        if (pendingGapUs >= 0 && item.HasTime())
          analysis.Gap(item.TimeUs - pendingGapUs, item.TimeUs, lines.Text());
        pendingGapUs = -1;
        go = framer.Feed(item.Bytes);
        break;
      case TCaptureKind::ckGap:
        go = framer.Finish();
        pendingGapUs = item.GapUs;
        break;
      case TCaptureKind::ckMetadata:
        // The line the log was recorded on times its items, not the settings.
        if (double byteUs;
            !haveChunk && item.Key == "line" && CaptureLineByteTimeUs(item.Text, byteUs))
          clock = TItemClock(byteUs);
        // "z" counts from the start of the recording, as it did live.
        if (int64_t startUs;
            !haveStart && item.Key == "start" && ParseCaptureTime(item.Text, startUs)) {
          lines.SetStart(startUs);
          haveStart = true;
        }
        break;
      case TCaptureKind::ckMalformed:
        // The lines before it first, so that the report stands where it belongs.
        if (!out.Write(lines.Text(), 0) || !out.Flush()) {
          stdoutFailed = true;
          go = false;
          break;
        }
        std::fprintf(stderr, "vantrel-dump: %s:%llu: %s (line skipped)\n", opt.CaptureFile.c_str(),
                     static_cast<unsigned long long>(item.Line), item.Text.c_str());
        break;
    }
  }
  if (go && !in.LastErrorText().empty())
    failure = "cannot read " + opt.CaptureFile + ": " + in.LastErrorText();
  else if (go)
    framer.Finish();
  if (go) analysis.Finish(lastItemUs, lines.Text());
  if (!stdoutFailed && !(out.Write(lines.Text(), 0) && out.Flush())) stdoutFailed = true;
  if (stdoutFailed) {
    if (rawFd >= 0) close(rawFd);
    return StdoutFailed(out.Error());
  }
  if (!failure.empty()) {
    if (rawFd >= 0) close(rawFd);
    return Fail(failure);
  }
  if (const int rc = CloseRawLog(rawFd, opt.RawLog); rc != 0) return rc;
  int rc = 0;
  if (in.MalformedLines() > 0)
    rc = Fail(std::to_string(in.MalformedLines()) + " malformed line(s) of " + opt.CaptureFile +
              " skipped");
  // Shown up to where it breaks off, but not whole: no success.
  if (go && in.Truncated()) rc = Fail(opt.CaptureFile + " " + kCutShortText);
  return rc;
}

// One line per item taken from the queue, with the time the reader cut it,
// as long as --count allows; the lines of one drain leave in one write.
struct TItemPrinter {
  TMessageQueue& Queue;
  const TOptions& Opt;
  TDumpLines Lines;
  TDumpOutput Out{stdout};
  uint64_t Printed = 0;
  bool Failed = false;  // standard output could not be written

  TDumpAnalysis Analysis;

  TItemPrinter(TMessageQueue& queue, const TOptions& opt, int64_t startUs)
      : Queue(queue),
        Opt(opt),
        Lines(opt.Time, startUs, Settings.MaxLoko, opt.LocalTime),
        Analysis(EventLimitsFrom(MonitorSettings.Analysis), opt.Events, opt.StatsMode()) {}

  bool Full() const { return Opt.Count && Printed == Opt.Count; }
  void PrintQueued() {
    TQueuedItem item;
    while (!Failed && !Full() && (Queue.TakeFirst(item), !item.Bytes.empty())) {
      if (Analysis.Active()) Analysis.Take(item.Bytes, item.TimeUs, Lines.Text());
      if (Opt.HideCalls && IsCallOrIdle(item.Bytes)) continue;
      if (!Opt.NoItems) Lines.Append(item.Bytes, item.TimeUs);
      ++Printed;
      // A long backlog leaves in pieces rather than in one large buffer.
      if (Lines.Text().size() >= kDumpBatchBytes) Write();
    }
    Write();
  }
  // A quiet line: silence and a periodic table still come on time.
  void Tick() {
    if (!Analysis.Active()) return;
    Analysis.Tick(WallClockUs(), Lines.Text());
    if (!Lines.Text().empty()) Write();
  }
  void Write() {
    if (!Failed && !Out.Write(Lines.Text(), WallClockUs())) Failed = true;
  }
  void FlushIfDue() {
    if (!Failed && !Out.FlushIfDue(WallClockUs())) Failed = true;
  }
  void Flush() {
    if (!Failed && !Out.Flush()) Failed = true;
  }
};

// A raw log that cannot be written stops, said once on standard error; the
// monitor goes on, as it does when a recording fails.
std::string RawLogPath;
void ReportRawFailure() {
  static bool reported = false;
  if (reported || RawError == 0) return;
  reported = true;
  std::fprintf(stderr, "vantrel-dump: raw log stopped: cannot write %s: %s\n", RawLogPath.c_str(),
               RawErrorText(RawError).c_str());
  std::fflush(stderr);
}

// The capture log asked for with --capture: fed by the reader thread's chunk
// hook, flushed from the loop below.  A write failure stops only the
// recording, said once on standard error.
struct TRecording {
  explicit TRecording(const std::string& path) : Path(path) {}

  const std::string& Path;
  TCaptureRecorder Recorder;
  bool Reported = false;

  void ReportFailure() {
    if (Reported || !Recorder.Failed()) return;
    Reported = true;
    std::fprintf(stderr, "vantrel-dump: recording stopped: cannot write %s: %s\n", Path.c_str(),
                 Recorder.ErrorText().c_str());
    std::fflush(stderr);
  }
};

// How long the queue may fill after a wake-up before it is drained: the
// lines of a busy line leave in batches, still well within 100 ms of their
// items for a reader such as grep.
constexpr int kDrainBatchMs = 40;

// Prints what the reader queues until the time is up (seconds, 0: no limit),
// --count is reached, a signal comes, a write fails or the connection ends.
// service is asked after every wake-up; true when the connection ended (the
// reader stopped by itself and nothing follows).
bool PrintUntilDone(TItemPrinter& printer, TRecording& recording,
                    const std::function<bool()>& service, double seconds) {
  using TClock = std::chrono::steady_clock;
  const auto deadline = TClock::now() + std::chrono::duration_cast<TClock::duration>(
                                            std::chrono::duration<double>(seconds));
  auto nextDrain = TClock::now();
  bool due = true;  // a wake-up waits to be drained
  for (;;) {
    // Without a deadline the loop sleeps until woken, but no longer than
    // the recording and a file's output may wait for their flush.
    long long timeout = -1;
    const auto now = TClock::now();
    if (seconds > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
      if (left.count() <= 0) break;
      timeout = left.count() + 1;
    }
    auto shorten = [&](long long ms) { timeout = timeout < 0 ? ms : std::min(timeout, ms); };
    if (due)
      shorten(std::max<long long>(
          0, std::chrono::ceil<std::chrono::milliseconds>(nextDrain - now).count()));
    if (recording.Recorder.IsOpen() && !recording.Recorder.Failed())
      shorten(TCaptureRecorder::TickPeriodMs);
    if (printer.Out.Pending()) shorten(TDumpOutput::kFilePeriodUs / 2000);
    // Silence is looked for, and a periodic table made, at least once a second.
    if (printer.Analysis.Active()) shorten(1000);
    const long long wait = std::min<long long>(timeout, 1 << 30);
#ifdef _WIN32
    const DWORD woken =
        WaitForSingleObject(WakeEvent, wait < 0 ? INFINITE : static_cast<DWORD>(wait));
    if (woken == WAIT_FAILED) break;
    if (woken == WAIT_OBJECT_0) due = true;
#else
    pollfd p{WakePipe[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(wait)) < 0 && errno != EINTR) break;
    char pending[64];
    while (read(WakePipe[0], pending, sizeof pending) > 0) due = true;
#endif
    recording.Recorder.Tick(WallClockUs());
    recording.ReportFailure();
    ReportRawFailure();
    printer.FlushIfDue();
    const bool ended = service();
    const bool ending = SignalSeen || ended;
    // Batches: a wake-up within kDrainBatchMs of the last drain waits for
    // the rest of that interval (the queue wakes only when it was empty).
    if (due && (ending || TClock::now() >= nextDrain)) {
      due = false;
      printer.PrintQueued();
      nextDrain = TClock::now() + std::chrono::milliseconds(kDrainBatchMs);
    }
    printer.Tick();
    if (printer.Failed || printer.Full() || ending) return ended;
  }
  return false;
}

int DumpPort(const TOptions& opt) {
  const std::string port = Settings.Port;
  const int64_t startUs = WallClockUs();
  RawLogPath = opt.RawLog;
  const int rawFd = opt.RawLog.empty() ? -1 : OpenRawLog(opt.RawLog);
  if (!opt.RawLog.empty() && rawFd < 0)
    return Fail("cannot write " + opt.RawLog + ": " + RawErrorText(errno));
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
    return Fail("cannot create a pipe: " + SystemErrorText(err));
  }
#endif
  TRecording recording(opt.CaptureLog);
  recording.Recorder.SetOnFailure(Wake);
  if (!opt.CaptureLog.empty() &&
      !recording.Recorder.Open(
          opt.CaptureLog,
          {port,
           CaptureLineText(Settings.Baud, Settings.Bits, ParityLetter(Settings.Parity),
                           Settings.StopBit, Settings.SoftFlow, Settings.HardFlow),
           std::string("vantrel-dump ") + VANTREL_VERSION, startUs})) {
    CloseRawLog(rawFd, opt.RawLog);
    return Fail("cannot write " + opt.CaptureLog + ": " + recording.Recorder.ErrorText());
  }

  // The dump's own queue: nothing else in the process reads from it.
  TMessageQueue queue;
  TBusConnection connection;
  connection.SetQueue(queue);
  TItemPrinter printer(queue, opt, startUs);
  if (rawFd >= 0 || recording.Recorder.IsOpen())
    connection.SetOnChunk([rawFd, &recording](std::string_view bytes, int64_t timeUs) {
      recording.Recorder.AddChunk(bytes, timeUs);
      if (rawFd >= 0 && RawError == 0 && !WriteRawLog(rawFd, bytes)) Wake();
    });
  connection.SetOnTerminate([](TReadComDaemon*) { Wake(); });
  // Reconnecting: one line on stderr when the port goes and one when it is
  // back; a capture being recorded marks the gap.
  connection.SetReconnect(opt.Reconnect);
  connection.SetOnWake(Wake);
  connection.SetOnGap([&connection, &recording, &printer](int64_t fromUs, int64_t toUs) {
    if (recording.Recorder.IsOpen()) recording.Recorder.AddGap(toUs - fromUs);
    // What the lost link queued came before the gap; the new one reads after it.
    if (printer.Analysis.Active()) {
      printer.PrintQueued();
      printer.Analysis.Gap(fromUs, toUs, printer.Lines.Text());
      printer.Write();
    }
    std::fprintf(stderr, "vantrel-dump: port back: %s after %.3f s\n",
                 QuotedPortName(connection.Port()).c_str(), double(toUs - fromUs) / 1e6);
  });
  queue.SetWakeup(Wake);
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
#ifndef _WIN32
    pthread_sigmask(SIG_BLOCK, &signals, &old);  // the watch thread gets them blocked
#endif
    const bool waiting = connection.WaitForMissingPort();
#ifndef _WIN32
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
#endif
    if (!waiting) {
      queue.SetWakeup({});
      CloseRawLog(rawFd, opt.RawLog);
      return Fail(PortErrorTextEnglish(connection.Error()));
    }
    std::fprintf(stderr, "vantrel-dump: %s; waiting\n",
                 PortErrorTextEnglish(connection.Error()).c_str());
  }
  std::string retryReported;  // why the port that is back does not open, said once
  auto ended = [&] {
    const TBusConnection::TEvent event = service();
    if (event == TBusConnection::evLost)
      std::fprintf(stderr, "vantrel-dump: port lost: %s%s%s; waiting\n",
                   QuotedPortName(port).c_str(), connection.Error().SystemText.empty() ? "" : ": ",
                   connection.Error().SystemText.c_str());
    if (event != TBusConnection::evNone) retryReported.clear();
    // A port that came back but does not open (permissions being set, held
    // by another program) says why; one that is gone again says nothing.
    const TPortFault retry = connection.RetryError().Fault;
    if (connection.Waiting() && retry != TPortFault::pfNone && retry != TPortFault::pfMissing) {
      const std::string why = PortErrorTextEnglish(connection.RetryError());
      if (why != retryReported)
        std::fprintf(stderr, "vantrel-dump: port back, but %s; waiting\n", why.c_str());
      retryReported = why;
    }
    return event == TBusConnection::evEnded;
  };
  Wake();  // items left in the queue are taken at once
  bool lost = PrintUntilDone(printer, recording, ended, opt.Seconds);
  // A reader that ended by itself just before another reason to stop.
  if (!lost && !opt.Reconnect && connection.Reader() && connection.Reader()->Finished())
    lost = service() == TBusConnection::evEnded;

  // A recording that ends while the port is away ends with that gap.
  if (connection.Waiting() && recording.Recorder.IsOpen())
    recording.Recorder.AddGap(WallClockUs() - connection.LostAtUs());
  // Disconnect as the window does: close the port, then stop the reader.
  connection.Close();
  queue.SetWakeup({});
  printer.PrintQueued();  // what the reader queued before it stopped was received
  printer.Analysis.Finish(WallClockUs(), printer.Lines.Text());
  printer.Write();
  printer.Flush();
  const bool recorded = recording.Recorder.Close();
  recording.ReportFailure();

  int rc = 0;
  if (printer.Failed) rc = StdoutFailed(printer.Out.Error());
  ReportRawFailure();
  if (RawError != 0) rc = 1;
  if (lost) rc = Fail(PortErrorTextEnglish(connection.Error()));
  if (const int r = CloseRawLog(rawFd, opt.RawLog); r != 0) rc = r;
  // The monitor went on, but the recording asked for is incomplete.
  if (!recorded) rc = 1;
  return rc;
}

// The letters only tell the options apart: -h is the one short option.
// clang-format off
const option kOptions[] = {{"settings", required_argument, nullptr, 's'},
                           {"baud", required_argument, nullptr, 'b'},
                           {"bits", required_argument, nullptr, 'B'},
                           {"parity", required_argument, nullptr, 'P'},
                           {"stop", required_argument, nullptr, 'T'},
                           {"flow", required_argument, nullptr, 'F'},
                           {"hide-calls", no_argument, nullptr, 'H'},
                           {"port", required_argument, nullptr, 'p'},
                           {"file", required_argument, nullptr, 'f'},
                           {"time", required_argument, nullptr, 't'},
                           {"raw-log", required_argument, nullptr, 'r'},
                           {"capture", required_argument, nullptr, 'C'},
                           {"count", required_argument, nullptr, 'c'},
                           {"seconds", required_argument, nullptr, 'S'},
                           {"reconnect", no_argument, nullptr, 'R'},
                           {"stats", no_argument, nullptr, 'X'},
                           {"events", no_argument, nullptr, 'E'},
                           {"no-items", no_argument, nullptr, 'N'},
                           {"show-settings", no_argument, nullptr, 'w'},
                           {"help", no_argument, nullptr, 'h'},
                           {"version", no_argument, nullptr, 'V'},
                           {nullptr, 0, nullptr, 0}};
// clang-format on

// --help and --version: a stdout that cannot take them is an error.
int PrintToStdout(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) return StdoutFailed(errno);
  return 0;
}

// The line settings given on the command line, put over the file's.
struct TLineOverride {
  bool Baud = false, Bits = false, Parity = false, Stop = false, Flow = false;
  TSettings Values;
  void ApplyTo(TSettings& s) const {
    if (Baud) s.Baud = Values.Baud;
    if (Bits) s.Bits = Values.Bits;
    if (Parity) s.Parity = Values.Parity;
    if (Stop) s.StopBit = Values.StopBit;
    if (Flow) s.SoftFlow = Values.SoftFlow, s.HardFlow = Values.HardFlow;
  }
};

// "n", "o", "e", "m", "s" (either case) to the settings' parity index.
bool ParseParity(const std::string& text, int& index) {
  static const std::string kLetters = "noems";
  if (text.size() != 1) return false;
  const size_t at =
      kLetters.find(static_cast<char>(std::tolower(static_cast<unsigned char>(text[0]))));
  if (at == std::string::npos) return false;
  index = static_cast<int>(at);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  UseUtf8Arguments(argc, argv);
#endif
  TOptions opt;
  TLineOverride line;
  bool havePort = false;
  opterr = 0;
  int c;
  // ":" first: a missing value is told apart from an unknown option; "+"
  // keeps the arguments in order, so that --stats may take the one after it.
  while ((c = getopt_long(argc, argv, "+:h", kOptions, nullptr)) != -1) {
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
        else if (value == "l")
          opt.Time = TTimeMode::tmAbsolute, opt.LocalTime = true;
        else
          return Usage("invalid --time '" + value +
                       "': a (absolute), l (local time of day), d (delta) or z (since start)");
        break;
      case 'b': {
        uint64_t baud = 0;
        if (!ParseUnsigned(optarg, INT32_MAX, baud) || baud == 0)
          return Usage("invalid --baud '" + value + "': a whole number above 0");
        line.Values.Baud = static_cast<int32_t>(baud), line.Baud = true;
        break;
      }
      case 'B':
        if (value.size() != 1 || value[0] < '5' || value[0] > '8')
          return Usage("invalid --bits '" + value + "': 5, 6, 7 or 8");
        line.Values.Bits = value[0] - '0', line.Bits = true;
        break;
      case 'P':
        if (!ParseParity(value, line.Values.Parity))
          return Usage("invalid --parity '" + value +
                       "': n (none), o (odd), e (even), m (mark) or s (space)");
        line.Parity = true;
        break;
      case 'T':
        if (value == "1")
          line.Values.StopBit = 0;
        else if (value == "1.5")
          line.Values.StopBit = 1;
        else if (value == "2")
          line.Values.StopBit = 2;
        else
          return Usage("invalid --stop '" + value + "': 1, 1.5 or 2");
        line.Stop = true;
        break;
      case 'F':
        if (value != "none" && value != "rtscts" && value != "xonxoff" && value != "both")
          return Usage("invalid --flow '" + value + "': none, rtscts, xonxoff or both");
        line.Values.HardFlow = value == "rtscts" || value == "both";
        line.Values.SoftFlow = value == "xonxoff" || value == "both";
        line.Flow = true;
        break;
      case 'H':
        opt.HideCalls = true;
        break;
      case 'r':
        opt.RawLog = value;
        break;
      case 'C':
        if (value.empty()) return Usage("--capture needs a file name");
        opt.CaptureLog = value;
        break;
      case 'c':
        if (!ParseUnsigned(optarg, UINT64_MAX, opt.Count) || opt.Count == 0)
          return Usage("invalid --count '" + value + "': a whole number above 0");
        break;
      case 'S':
        if (!ParseDouble(optarg, 0, 1e7, opt.Seconds) || opt.Seconds <= 0)
          return Usage("invalid --seconds '" + value +
                       "': a number above 0 and at most 10000000 (about 115 days)");
        break;
      case 'w':
        opt.ShowSettings = true;
        break;
      case 'R':
        opt.Reconnect = true;
        break;
      case 'X':
        opt.Stats = true;
        // "--stats N": a number right after it is its period.
        if (optind < argc && argv[optind][0] != '-') {
          if (!ParseDouble(argv[optind], 0, 1e7, opt.StatsEvery) || opt.StatsEvery < 0.1)
            return Usage(std::string("invalid --stats '") + argv[optind] +
                         "': seconds, at least 0.1");
          ++optind;
        }
        break;
      case 'E':
        opt.Events = true;
        break;
      case 'N':
        opt.NoItems = true;
        break;
      case 'h':
        return PrintToStdout(kUsage);
      case 'V':
        return PrintToStdout(std::string("vantrel-dump ") + VANTREL_VERSION + "\n");
      case ':': {
        const std::string bad = optind > 1 && optind - 1 < argc ? argv[optind - 1] : "?";
        return Usage("option " + bad + " needs a value");
      }
      default: {
        // An unknown short option may stand inside a group ("-xh").
        const std::string bad = optopt ? std::string("-") + static_cast<char>(optopt)
                                : optind > 1 && optind - 1 < argc ? argv[optind - 1]
                                                                  : "?";
        return Usage("unknown option " + bad);
      }
    }
  }
  if (optind < argc) return Usage(std::string("unexpected argument '") + argv[optind] + "'");
  if (opt.NoItems && !opt.Stats && !opt.Events)
    return Usage("--no-items needs --stats or --events (it would print nothing)");
  // Either would empty the other file (or the capture being read) first.
  if (SameFile(opt.CaptureLog, opt.RawLog))
    return Usage("--capture and --raw-log name the same file: " + opt.RawLog);
  if (SameFile(opt.CaptureFile, opt.RawLog))
    return Usage("--file and --raw-log name the same file: " + opt.RawLog);
  if (!opt.CaptureFile.empty()) {
    if (havePort) return Usage("--file and --port exclude each other");
    if (opt.Seconds > 0) return Usage("--seconds cannot be used with --file");
    if (!opt.CaptureLog.empty())
      return Usage("--capture records a port; it cannot be used with --file");
    if (opt.Reconnect) return Usage("--reconnect cannot be used with --file");
  }

  if (!opt.SettingsFile.empty()) {
#ifdef _WIN32
    const std::wstring wide = Widen(opt.SettingsFile);
    if (_waccess(wide.c_str(), 4) != 0)
      return Fail("cannot read settings file " + opt.SettingsFile + ": " + SystemErrorText(errno));
    struct _stat64 st {};
    if (_wstat64(wide.c_str(), &st) == 0 && (st.st_mode & _S_IFDIR))
#else
    // A missing default file means defaults; a file named on purpose must be there.
    if (access(opt.SettingsFile.c_str(), R_OK) != 0)
      return Fail("cannot read settings file " + opt.SettingsFile + ": " + SystemErrorText(errno));
    // A folder passes the access test but holds no settings: it would mean defaults unnoticed.
    struct stat st {};
    if (stat(opt.SettingsFile.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
#endif
      return Fail("cannot read settings file " + opt.SettingsFile + ": " + SystemErrorText(EISDIR));
    SetSettingsFileName(opt.SettingsFile);
  } else {
    SetSettingsFileName(SiblingSettingsFileName("vVantrelBus"));  // the window's settings
  }
  if (const int error = LoadSettings())
    return Fail("cannot read settings file " + SettingsFileName() + ": " + IniErrorText(error));
  if (havePort) Settings.Port = opt.Port;
  line.ApplyTo(Settings);  // for this run only: nothing is saved
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);  // the Czech texts are UTF-8
#else
  signal(SIGPIPE, SIG_IGN);  // a closed output pipe shows as a write error
#endif

  if (opt.ShowSettings) {
    std::string text = SettingsToText(Settings);
    if (!text.empty() && text.back() != '\n') text += '\n';
    // All of it, a NUL in a value too.
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
      return StdoutFailed(errno);
    }
    return 0;
  }
  return opt.CaptureFile.empty() ? DumpPort(opt) : DumpFile(opt);
}
