// A simulated central writing bus traffic to a pseudo-terminal.
#include "sim/SimCentral.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "base/Text.h"
#include "bus/RawFraming.h"
#include "bus/ReplayClock.h"
#include "capture/CaptureReader.h"
#include "sim/SimTraffic.h"

namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point t) {
  return std::chrono::duration<double>(TClock::now() - t).count();
}

// A reader that has just opened the pseudo-terminal still configures it (and
// may purge its input); sending starts after this pause.
constexpr int kSettleMs = 200;
// How often the central looks whether a reader holds the pseudo-terminal: a
// master reports hang-up without end while no one does, so it cannot wait for it.
constexpr int kAttachPollMs = 20;
constexpr int kSendBatchMs = 50;  // pacing step of the sender (see Run)

#ifndef _WIN32
speed_t SpeedConstant(int baud) {
  static const std::pair<int, speed_t> kSpeeds[] = {
      {1200, B1200},     {2400, B2400},     {4800, B4800},    {9600, B9600},
      {19200, B19200},   {38400, B38400},   {57600, B57600},  {115200, B115200},
      {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& [rate, speed] : kSpeeds)
    if (rate == baud) return speed;
  return B0;
}
#endif

}  // namespace

// A capture read as it is played, so that its size costs no memory.  A
// log gives each recorded read with its offset from the first one; a clock
// set back between two reads counts as no time, and so does a step forward
// beyond the largest one a pause may take.  A raw capture gives its items,
// framed a piece at a time as it is read.
struct TSimCentral::TLogSource {
  static constexpr std::size_t kFramePiece = 4096;

  std::string Path;
  std::atomic<uint64_t>& Malformed;
  TReplayClock Clock;
  TCaptureReader Reader;
  TCaptureItem Item;
  bool HasPending = false;  // the first read, taken to check the capture
  ByteString Pending;
  int64_t PendingOffsetUs = 0;
  std::string Error;
  int Rounds = 0;
  bool Replayed = false;  // a later round: its malformed lines were counted
  // A raw capture: the items framed and not yet played, and how far the
  // chunk read last has been framed.
  std::deque<ByteString> Framed;
  TCaptureFramer Framer{[this](std::string_view item) {
    Framed.emplace_back(item);
    return true;
  }};
  std::size_t FramedTo = 0;
  bool FramingDone = false;

  TLogSource(std::string path, std::atomic<uint64_t>& malformed, double maxStepSeconds)
      : Path(std::move(path)),
        Malformed(malformed),
        Clock(static_cast<int64_t>(std::min(maxStepSeconds, 1e9) * 1e6)) {}

  // From the beginning again; the offsets go on from the last read.
  bool Open() {
    Replayed = Rounds++ > 0;
    Clock.Restart();
    Framed.clear();
    Item.Bytes.clear();
    FramedTo = 0;
    FramingDone = false;
    if (Reader.Open(Path)) return true;
    Error = "cannot read " + Path + ": " + Reader.LastErrorText();
    return false;
  }

  // The next read (a raw capture: item); false at the end, or when the
  // capture cannot be read whole (Error says why).
  bool Next(ByteString& bytes, int64_t& offsetUs) {
    if (HasPending) {
      HasPending = false;
      bytes.swap(Pending);
      offsetUs = PendingOffsetUs;
      return true;
    }
    if (!Reader.IsLog()) return NextRaw(bytes);
    while (Reader.Next(Item)) {
      if (Item.Kind == TCaptureKind::ckMalformed && !Replayed) ++Malformed;
      if (Item.Kind != TCaptureKind::ckChunk) continue;
      offsetUs = Clock.Offset(Item.TimeUs);
      bytes.swap(Item.Bytes);
      return true;
    }
    NoteEnd();
    return false;
  }

  bool NextRaw(ByteString& bytes) {
    while (Framed.empty()) {
      if (FramedTo == Item.Bytes.size()) {
        FramedTo = 0;
        Item.Bytes.clear();
        if (!Reader.Next(Item)) {
          NoteEnd();
          if (!Error.empty() || FramingDone) return false;
          FramingDone = true;  // what is left goes as it is
          Framer.Finish();
          continue;
        }
      }
      const std::size_t n = std::min(kFramePiece, Item.Bytes.size() - FramedTo);
      Framer.Feed(std::string_view(Item.Bytes).substr(FramedTo, n));
      FramedTo += n;
    }
    bytes = std::move(Framed.front());
    Framed.pop_front();
    return true;
  }

  // The capture has ended: read whole, or not.
  void NoteEnd() {
    if (!Reader.LastErrorText().empty())
      Error = "cannot read " + Path + ": " + Reader.LastErrorText();
    else if (Reader.Truncated())
      Error = Path + " " + kCutShortText;
  }
};

TSimCentral::TSimCentral(TSimConfig config) : FConfig(std::move(config)) {}

TSimCentral::~TSimCentral() { Stop(); }

std::string TSimCentral::LastErrorText() const {
  std::lock_guard<std::mutex> lock(FErrorLock);
  return FError;
}

void TSimCentral::SetError(const std::string& text) {
  std::lock_guard<std::mutex> lock(FErrorLock);
  FError = text;
}

// ---- platform part: a pseudo-terminal or a tty (Windows: SimCentralWin.cpp)
#ifndef _WIN32

bool TSimCentral::OpenPty() {
  FFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (FFd < 0) {
    SetError("cannot create a pseudo-terminal: " + SystemErrorText(errno));
    return false;
  }
  char name[256];
  if (grantpt(FFd) != 0 || unlockpt(FFd) != 0 || ptsname_r(FFd, name, sizeof name) != 0) {
    SetError("cannot create a pseudo-terminal: " + SystemErrorText(errno));
    return false;
  }
  FPortPath = name;
  // Raw from the start, so that no byte is echoed or translated should the
  // reader not set the line up itself.  Closing the slave again makes the
  // master report hang-up until a reader opens it.
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    SetError("cannot open " + FPortPath + ": " + SystemErrorText(errno));
    return false;
  }
  termios tio{};
  if (tcgetattr(slave, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
  }
  close(slave);
  fcntl(FFd, F_SETFL, fcntl(FFd, F_GETFL) | O_NONBLOCK);
  FIsPty = true;
  return true;
}

bool TSimCentral::OpenPort() {
  FPortPath = FConfig.Port;
  const speed_t speed = SpeedConstant(FConfig.PortBaud);
  if (speed == B0) {
    SetError("unsupported baud rate " + std::to_string(FConfig.PortBaud) + " for " + FPortPath);
    return false;
  }
  FFd = open(FPortPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (FFd < 0) {
    SetError("cannot open " + FPortPath + ": " + SystemErrorText(errno));
    return false;
  }
  termios tio{};
  if (tcgetattr(FFd, &tio) != 0) {
    SetError("cannot configure " + FPortPath + ": " + SystemErrorText(errno));
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(FFd, TCSANOW, &tio) != 0) {
    SetError("cannot configure " + FPortPath + ": " + SystemErrorText(errno));
    return false;
  }
  return true;
}

#endif

bool TSimCentral::Start() {
  if (FThread.joinable() || FFd >= 0) {
    SetError("already started");
    return false;
  }
  SetError("");
  FStop = false;
  FEnding = false;
  FFinished = false;
  FBytesSent = 0;
  if (FConfig.BytesPerSecond < 0 || !std::isfinite(FConfig.BytesPerSecond) || FConfig.Noise < 0 ||
      FConfig.Noise > 1 || FConfig.Seconds < 0 || !(FConfig.MaxStepSeconds >= 0)) {
    SetError("invalid rate, noise or duration");
    return false;
  }
  if (FConfig.Speed <= 0 || !std::isfinite(FConfig.Speed)) {
    SetError("invalid replay speed");
    return false;
  }
  // Read before anything is opened, so that a bad capture is reported
  // before a reader is told where to connect.
  if (!FConfig.ReplayFile.empty() && !OpenReplay()) return false;
  if (!OpenOutputs()) {
    CloseAll();
    return false;
  }
  FThread = std::thread(&TSimCentral::Run, this);
  return true;
}

void TSimCentral::Stop(bool linger) {
  // The sender looks at least every 100 ms; it is not woken, as waking it
  // may end a write (on Windows by closing the port).
  FEnding = true;
  if (linger && FThread.joinable()) FThread.join();
  FStop = true;
  WakeSender();
  if (FThread.joinable()) FThread.join();
  CloseAll();
}

// A capture is played as it is read; its first read (or item) is taken
// here to see that it holds one.
bool TSimCentral::OpenReplay() {
  const std::string& path = FConfig.ReplayFile;
  FLog.reset();  // a capture of an earlier start
  auto log = std::make_unique<TLogSource>(path, FMalformed, FConfig.MaxStepSeconds);
  if (!log->Open()) {
    SetError(log->Error);
    return false;
  }
  if (!log->Next(log->Pending, log->PendingOffsetUs)) {
    SetError(!log->Error.empty()   ? log->Error
             : log->Reader.IsLog() ? "capture " + path + " holds no bytes"
                                   : "capture " + path + " is empty");
    return false;
  }
  log->HasPending = true;
  FLog = std::move(log);
  return true;
}

#ifndef _WIN32
bool TSimCentral::OpenOutputs() {
  bool ok = FConfig.Port.empty() ? OpenPty() : OpenPort();
  if (ok && !FConfig.LinkPath.empty()) {
    struct stat st {};
    if (lstat(FConfig.LinkPath.c_str(), &st) == 0) {
      // Replace a stale link from an earlier run, but never a real file.
      if (!S_ISLNK(st.st_mode)) {
        SetError("cannot make link " + FConfig.LinkPath + ": it exists and is not a symbolic link");
        ok = false;
      } else {
        unlink(FConfig.LinkPath.c_str());
      }
    }
    if (ok && symlink(FPortPath.c_str(), FConfig.LinkPath.c_str()) != 0) {
      SetError("cannot make link " + FConfig.LinkPath + ": " + SystemErrorText(errno));
      ok = false;
    }
    FLinkMade = ok;
  }
  if (ok && !FConfig.SaveFile.empty()) {
    FSaveFd = open(FConfig.SaveFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (FSaveFd < 0) {
      SetError("cannot write " + FConfig.SaveFile + ": " + SystemErrorText(errno));
      ok = false;
    }
  }
  if (ok && pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) {
    SetError("cannot create a pipe: " + SystemErrorText(errno));
    ok = false;
  }
  return ok;
}

void TSimCentral::WakeSender() {
  if (FWake[1] >= 0) {
    const char c = 1;
    [[maybe_unused]] auto r = write(FWake[1], &c, 1);
  }
}

void TSimCentral::CloseAll() {
  if (FFd >= 0) close(FFd);
  FFd = -1;
  if (FSaveFd >= 0) {
    if (fsync(FSaveFd) != 0 && errno != EINVAL && errno != EROFS)
      SetError("cannot write " + FConfig.SaveFile + ": " + SystemErrorText(errno));
    close(FSaveFd);
  }
  FSaveFd = -1;
  for (int& fd : FWake) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  if (FLinkMade) {
    // Only our own link: another run may have taken the name meanwhile.
    char target[512];
    const ssize_t n = readlink(FConfig.LinkPath.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == FPortPath)
      unlink(FConfig.LinkPath.c_str());
    FLinkMade = false;
  }
}

bool TSimCentral::ReaderAttached() const {
  if (!FIsPty) return true;
  pollfd p{FFd, POLLOUT, 0};
  return poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP);
}

bool TSimCentral::Pause(int ms) {
  if (FStop) return false;
  pollfd p{FWake[0], POLLIN, 0};
  poll(&p, 1, ms < 0 ? 0 : ms);
  return !FStop;
}

bool TSimCentral::WriteAll(const std::string& chunk) {
  std::size_t done = 0;
  while (done < chunk.size()) {
    const ssize_t n = write(FFd, chunk.data() + done, chunk.size() - done);
    if (n > 0) {
      if (FSaveFd >= 0) {
        for (ssize_t w = 0; w < n;) {
          const ssize_t s =
              write(FSaveFd, chunk.data() + done + w, static_cast<std::size_t>(n - w));
          if (s < 0 && errno == EINTR) continue;
          if (s < 0) {
            SetError("cannot write " + FConfig.SaveFile + ": " + SystemErrorText(errno));
            return false;
          }
          w += s;
        }
      }
      done += static_cast<std::size_t>(n);
      FBytesSent += static_cast<uint64_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      SetError("cannot write to " + FPortPath + ": " + SystemErrorText(errno));
      return false;
    }
    // The line is full: wait until it takes more (the reader is behind).
    pollfd p[2] = {{FFd, POLLOUT, 0}, {FWake[0], POLLIN, 0}};
    if (poll(p, 2, 100) < 0 && errno != EINTR) {
      SetError("cannot wait for " + FPortPath + ": " + SystemErrorText(errno));
      return false;
    }
    if (FStop || FEnding) return false;
    if (p[0].revents & (POLLHUP | POLLERR)) {
      if (!FIsPty) {
        SetError("port lost: " + FPortPath);
        return false;
      }
      if (!Pause(kAttachPollMs)) return false;  // reader gone: wait for the next one
    }
  }
  return true;
}

void TSimCentral::Linger() {
  if (!FIsPty) {
    tcdrain(FFd);
    return;
  }
  // Closing the master hangs the reader up and throws away what it has not
  // read yet, so give it the time to take the rest and close first.
  const auto start = TClock::now();
  while (ReaderAttached() && SecondsSince(start) < FConfig.LingerSeconds)
    if (!Pause(kAttachPollMs)) return;
}

#endif

void TSimCentral::Run() {
  // Where the bytes come from, item by item: a capture or generated traffic.
  // A capture log's reads come with their offsets (µs from the first read).
  std::function<bool(ByteString&, int64_t&)> source;
  if (FLog)
    source = [this](ByteString& item, int64_t& offsetUs) {
      if (FLog->Next(item, offsetUs)) return true;
      if (!FLog->Error.empty() || !FConfig.Loop || !FLog->Open()) return false;
      return FLog->Next(item, offsetUs);
    };
  else
    source = [traffic = TSimTraffic(FConfig.Seed)](ByteString& item, int64_t&) mutable {
      item = traffic.NextItem();
      return true;
    };
  TSimNoise noise(FConfig.Noise, FConfig.Seed);
  // A log plays with its own timing unless a rate was asked for.
  const bool timed = FLog && FLog->Reader.IsLog() && !FConfig.ReplayAtRate;
  const double rate = FConfig.BytesPerSecond * FConfig.Speed;

  bool ended = false;  // the source has no more items
  bool failed = false;
  double sentBefore = 0;  // seconds of sending before the last pause
  bool attached = false;
  TClock::time_point t0;  // start of the current stretch of sending
  uint64_t sentInStretch = 0;
  ByteString next;
  double nextDue = 0;  // timed: seconds of sending after which next is due

  auto pull = [&]() {
    next.clear();
    ByteString item;
    int64_t offsetUs = 0;
    while (next.empty() && !ended) {
      if (!source(item, offsetUs))
        ended = true;
      else
        next = noise.Apply(item);
    }
    nextDue = static_cast<double>(offsetUs) / 1e6 / FConfig.Speed;
  };
  pull();

  // --seconds runs on the wall clock from the first reader on, so that a run
  // ends on time also when its reader left early.
  std::optional<TClock::time_point> firstReader;
  auto timeIsUp = [&] {
    return FConfig.Seconds > 0 && firstReader && SecondsSince(*firstReader) >= FConfig.Seconds;
  };
  while (!FStop && !FEnding && !failed) {
    if (timeIsUp()) break;
    if (!ReaderAttached()) {
      if (attached) sentBefore += SecondsSince(t0);
      attached = false;
      if (!Pause(kAttachPollMs)) break;
      continue;
    }
    if (!attached) {
      if (FIsPty && !Pause(kSettleMs)) break;
      if (!ReaderAttached()) continue;
      attached = true;
      t0 = TClock::now();
      if (!firstReader) firstReader = t0;
      sentInStretch = 0;
    }
    const double elapsed = SecondsSince(t0);
    if (next.empty()) break;  // source ended

    if (timed) {
      // Each recorded read on its own, when its time has come.
      const double early = nextDue - (sentBefore + elapsed);
      if (early > 0) {
        if (!Pause(static_cast<int>(std::min(std::ceil(early * 1000), 100.0)))) break;
        continue;
      }
      const std::string chunk = std::move(next);
      pull();
      if (!WriteAll(chunk)) {
        failed = !FStop && !FEnding;
        break;
      }
      continue;
    }

    // Whole items only, as many as the rate allows by now: a reader never
    // sees half of a message because of the pacing.
    const double allowed = rate > 0 ? rate * elapsed - static_cast<double>(sentInStretch)
                                    : static_cast<double>(1 << 16);
    std::string chunk;
    while (!next.empty() && static_cast<double>(chunk.size() + next.size()) <= allowed &&
           chunk.size() < 4096) {
      chunk += next;
      pull();
    }
    if (chunk.empty()) {
      // Nothing due yet: send what has come due every 50 ms, in one write,
      // rather than waking per byte.  A reader that takes the line every
      // 10 ms sees the same bytes in fewer, larger reads, and the demo costs
      // the program far less than the window itself.
      if (!Pause(kSendBatchMs)) break;
      continue;
    }
    if (!WriteAll(chunk)) {
      failed = !FStop && !FEnding;
      break;
    }
    sentInStretch += chunk.size();
  }
  if (FLog && !FLog->Error.empty()) {
    SetError(FLog->Error);
    failed = true;
  }
  if (!FStop && !failed) Linger();
  if (!FStop && !FEnding) {
    FFinished = true;
    if (FOnFinished) FOnFinished();
  }
}
