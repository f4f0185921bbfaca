// TBlockSerial: the platform-neutral part.  Every platform call goes through
// the Os* members of the platform layer.
#include "serial/BlockSerial.h"

#include <chrono>
#include <cstdio>
#include <string_view>

#include "base/Text.h"
#include "serial/SerialPlatform.h"

namespace {

bool StartsWithNoCase(const std::string& s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != prefix[i]) return false;
  }
  return true;
}

std::string CommunicationErrorMessage(int number, const std::string& description) {
  char head[64];
  std::snprintf(head, sizeof head, "Communication error %d: ", number);
  return head + description;
}

}  // namespace

ESerialError::ESerialError(int number, const std::string& description)
    : std::runtime_error(CommunicationErrorMessage(number, description)),
      FErrorNumber(number),
      FErrorDescription(description) {}

uint32_t MillisecondTick() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(static_cast<uint64_t>(ms.count()));
}

uint32_t TickDifference(uint32_t oldTick, uint32_t newTick) {
  if (oldTick == newTick) return 0;
  if (newTick >= oldTick) return newTick - oldTick;
  if (oldTick >= 0x80000000u && newTick < 0x80000000u)
    return newTick - oldTick;  // wrapped (mod 2^32)
  return oldTick - newTick;
}

// Holds the descriptor for one operation.  ClosePort waits until no guard is
// held before it closes; while it closes, only the closing thread gets one.
class TBlockSerial::TUseGuard {
public:
  explicit TUseGuard(TBlockSerial& port) : FPort(port) {
    std::lock_guard<std::mutex> lock(port.FStateLock);
    const bool open = port.FHandle.load() >= 0;
    FHeld = open && (!port.FClosing || port.FCloser == std::this_thread::get_id());
    if (FHeld) ++port.FUsers;
    // A close in progress is "not connected"; no descriptor at all is what
    // the system says of a bad one.
    FRefusal = FHeld ? 0 : (open ? ErrorNotOpen : kOsBadHandle);
  }
  ~TUseGuard() {
    if (!FHeld) return;
    std::lock_guard<std::mutex> lock(FPort.FStateLock);
    if (--FPort.FUsers == 0) FPort.FStateChanged.notify_all();
  }
  explicit operator bool() const { return FHeld; }
  int Refusal() const { return FRefusal; }
  TUseGuard(const TUseGuard&) = delete;
  TUseGuard& operator=(const TUseGuard&) = delete;

private:
  TBlockSerial& FPort;
  bool FHeld = false;
  int FRefusal = 0;
};

TBlockSerial::TBlockSerial() { SetError(0); }

TBlockSerial::~TBlockSerial() { TBlockSerial::ClosePort(); }

// ---- error state -------------------------------------------------------------

void TBlockSerial::SetError(int code) {
  std::string text = GetErrorDesc(code);
  std::lock_guard<std::mutex> lock(FErrorLock);
  FLastErrorCode = code;
  FLastErrorText = std::move(text);
}

int TBlockSerial::LastErrorCode() const {
  std::lock_guard<std::mutex> lock(FErrorLock);
  return FLastErrorCode;
}

std::string TBlockSerial::LastErrorText() const {
  std::lock_guard<std::mutex> lock(FErrorLock);
  return FLastErrorText;
}

int TBlockSerial::CheckOsResult(int result) {
  const int code = result == -1 ? OsLastError() : 0;
  SetError(code);
  return code;
}

void TBlockSerial::ThrowIfEnabled() {
  if (!FRaiseExcept) return;
  int code;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(FErrorLock);
    code = FLastErrorCode;
    text = FLastErrorText;
  }
  if (code != 0) throw ESerialError(code, text);
}

void TBlockSerial::FailWith(int code) {
  SetError(code);
  ThrowIfEnabled();
}

std::string TBlockSerial::GetErrorDesc(int code) {
  switch (code) {
    case 0:
      return "OK";
    case ErrorPortOwned:
      return "Port owned by other process";
    case ErrorInUse:
      return "Instance already in use";
    case ErrorBadParameter:
      return "Wrong paramter at call";
    case ErrorNotOpen:
      return "Instance not yet connected";
    case ErrorNoAnswer:
      return "No device answer detected";
    case ErrorLineTooLong:
      return "Maximal buffer length exceeded";
    case ErrorTimeout:
      return "Timeout during operation";
    case ErrorReadFailed:
      return "Reading of data failed";
    case ErrorFraming:
      return "Receive framing error";
    case ErrorOverrun:
      return "Receive Overrun Error";
    case ErrorReceiveOverflow:
      return "Receive Queue overflow";
    case ErrorParity:
      return "Receive Parity Error";
    case ErrorTransmitFull:
      return "Tranceive Queue is full";
    default:
      return OsErrorText(code);
  }
}

bool TBlockSerial::CheckNotReady() {
  if (!Active()) {
    FailWith(ErrorNotOpen);
    return true;
  }
  if (!ControlLinesOk()) {
    FailWith(ErrorNoAnswer);
    return true;
  }
  return false;
}

bool TBlockSerial::ControlLinesOk() {
  if (FTestDSR && !IsDsrOn()) return false;
  if (FTestCTS && !IsCtsOn()) return false;
  return true;
}

void TBlockSerial::MarkLost(int code) {
  FLostCode.store(code);
  FPortLost.store(true);
  SetError(code);
}

void TBlockSerial::NoteOsFailure(int code) {
  if (OsMeansPortGone(code))
    MarkLost(code);
  else
    SetError(code);
}

// A rate-limit pause that ClosePort cuts short; false when it was cut.
bool TBlockSerial::SleepUnlessClosing(uint32_t ms) {
  std::unique_lock<std::mutex> lock(FStateLock);
  return !FStateChanged.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FClosing; });
}

// ---- open, configure, close ---------------------------------------------------

void TBlockSerial::ParsePortNumber(const std::string& name) {
  FPortNumber = -1;
  int32_t n = 0;
  if (StartsWithNoCase(name, "COM")) {
    if (!ParseInteger(std::string_view(name).substr(3), n)) n = 0;
    FPortNumber = static_cast<int32_t>(static_cast<uint32_t>(n) - 1u);
  }
  if (StartsWithNoCase(name, "/DEV/TTYS")) {
    if (!ParseInteger(std::string_view(name).substr(9), n)) n = -2;
    FPortNumber = n;
  }
}

void TBlockSerial::OpenPort(const std::string& name) {
  if (Active() || Handle() >= 0) {
    FailWith(ErrorInUse);
    return;
  }
  FLineBuffer.clear();
  FDevicePath = name;
  ParsePortNumber(name);
  OsClearLastError();
  FDevicePath = OsDevicePath(name, FPortNumber, StartsWithNoCase(name, "COM"));

  // A name with an embedded zero would silently open a different path.
  const int err = name.find('\0') != std::string::npos ? kOsBadParameter : OsOpen(FDevicePath);
  SetError(err);
  ThrowIfEnabled();
  if (err != 0) return;

  FPortLost.store(false);
  FLostCode.store(0);
  SetupQueues(FReceiveQueueSize, 0);
  FPortAddress = 0;
  SetError(0);
  if (ControlLinesOk()) {
    FActive.store(true);
    SetRts(true);
    SetDtr(true);
    PurgeAll();
  } else {
    SetError(ErrorNoAnswer);
    std::lock_guard<std::mutex> lock(FStateLock);
    OsClose();
    FPortNumber = -1;
  }
  ThrowIfEnabled();
  ReportStatus(ReasonOpened, FDevicePath);
}

bool TBlockSerial::SetupQueues(int32_t inputSize, int32_t outputSize) {
  TUseGuard use(*this);
  if (!use) return false;
  FRequestedInputQueue = inputSize;
  FRequestedOutputQueue = outputSize;
  OsSetupQueues(inputSize, outputSize);  // the driver's refusal is not an error
  return true;
}

void TBlockSerial::ConfigureLine(int baud, int bits, const std::string& parity, int stopBits,
                                 bool softFlow, bool hardFlow) {
  FLineState = TLineState{};
  FLineState.DCBlength = sizeof(TLineState);
  FLineState.BaudRate = static_cast<uint32_t>(baud);
  FLineState.ByteSize = static_cast<uint8_t>(bits & 0xFF);
  FLineState.StopBits = static_cast<uint8_t>(stopBits & 0xFF);
  switch (parity.empty() ? ' ' : parity[0]) {
    case 'O':
    case 'o':
      FLineState.Parity = 1;
      break;
    case 'E':
    case 'e':
      FLineState.Parity = 2;
      break;
    case 'M':
    case 'm':
      FLineState.Parity = 3;
      break;
    case 'S':
    case 's':
      FLineState.Parity = 4;
      break;
    default:
      FLineState.Parity = 0;
      break;
  }
  FLineState.XonChar = 0x11;
  FLineState.XoffChar = 0x13;
  FLineState.XonLim = static_cast<uint16_t>(FReceiveQueueSize / 4);
  FLineState.XoffLim = static_cast<uint16_t>(FReceiveQueueSize / 4);
  uint32_t flags = kDcbBinary | kDcbDtrEnable;
  if (softFlow) flags |= kDcbOutX | kDcbInX;
  flags |= hardFlow ? (kDcbOutxCtsFlow | kDcbRtsHandshake) : kDcbRtsEnable;
  if (FLineState.Parity != 0) flags |= kDcbParity;
  FLineState.Flags = flags;

  // Out-of-range values must not be cut to a byte that happens to be valid,
  // nor reach the driver (a zero rate hangs the line up).
  if (baud <= 0 || bits < 5 || bits > 8 || stopBits < 0 || stopBits > 2) {
    FailWith(kOsBadParameter);
    return;
  }
  ApplyLineState();
}

void TBlockSerial::ApplyLineState() { ExchangeLineState(true); }

void TBlockSerial::FetchLineState() { ExchangeLineState(false); }

void TBlockSerial::ExchangeLineState(bool apply) {
  SetError(0);
  TUseGuard use(*this);
  if (!use)
    SetError(use.Refusal());
  else if (const int err = apply ? OsApplyLineState(FLineState) : OsFetchLineState(FLineState))
    NoteOsFailure(err);
  ThrowIfEnabled();
}

void TBlockSerial::SetReceiveQueueSize(int size) {
  SetupQueues(size, 0);
  FetchLineState();
  FLineState.XonLim = static_cast<uint16_t>(size / 4);
  FLineState.XoffLim = static_cast<uint16_t>(size / 4);
  ApplyLineState();
  FReceiveQueueSize = size;
}

void TBlockSerial::ClosePort() {
  bool closeHere = false;
  {
    std::unique_lock<std::mutex> lock(FStateLock);
    if (FClosing && FCloser != std::this_thread::get_id()) {
      // Another thread is closing: done when it is.
      FStateChanged.wait(lock, [this] { return !FClosing; });
    } else if (!FClosing && FHandle.load() >= 0) {
      FClosing = true;
      FCloser = std::this_thread::get_id();
      FActive.store(false);
      OsWake();                    // a reader in poll
      FStateChanged.notify_all();  // a rate-limit pause
      FStateChanged.wait(lock, [this] { return FUsers == 0; });
      closeHere = true;
    }
  }
  if (closeHere) {
    // The descriptor is released whatever these report, also with RaiseExcept.
    try {
      PurgeAll();
      SetRts(false);
      SetDtr(false);
    } catch (const ESerialError&) {}
    std::lock_guard<std::mutex> lock(FStateLock);
    OsClose();
    FClosing = false;
    FStateChanged.notify_all();
  }
  FActive.store(false);
  FPortNumber = -1;
  SetError(0);
  ReportStatus(ReasonClosed, FDevicePath);
}

// ---- transfers ---------------------------------------------------------------

ByteString TBlockSerial::ReadAvailable(int timeoutMs) {
  ByteString result;
  if (CheckNotReady()) return result;
  TUseGuard use(*this);
  if (!use) {
    FailWith(ErrorNotOpen);  // closed between the check and here
    return result;
  }
  SetError(0);
  auto readInto = [&](int n) {
    result.resize(static_cast<size_t>(n));
    const int got = ReadBytes(result.data(), n);
    result.resize(static_cast<size_t>(got > 0 ? got : 0));
  };
  if (!FLineBuffer.empty()) {
    result.swap(FLineBuffer);
  } else if (PortLost()) {
    SetError(FLostCode.load());
  } else {
    std::this_thread::yield();
    int n = BytesWaiting();
    if (n > 0) {
      readInto(n);
    } else if (PortLost()) {
      // BytesWaiting found the device gone; its error stands.
    } else if (WaitReadable(timeoutMs)) {
      n = BytesWaiting();
      if (n > 0) {
        readInto(n);
      } else if (!PortLost()) {
        // Readable but nothing counted: a hung-up tty reads 0 here.
        char probe[4096];
        int got = 0;
        const int err = OsRead(probe, sizeof probe, got);
        if (err != 0)
          NoteOsFailure(err);
        else if (got > 0)
          result.assign(probe, static_cast<size_t>(got));
        else
          MarkLost(kOsHungUp);
      }
    } else if (LastErrorCode() == 0) {
      // A real cause (closed meanwhile, port gone) is kept rather than
      // reported as a time-out.
      SetError(ErrorTimeout);
    }
  }
  ThrowIfEnabled();
  return result;
}

int TBlockSerial::BytesWaiting() {
  int count = 0;
  TUseGuard use(*this);
  if (!use) {
    SetError(use.Refusal());
  } else if (const int err = OsBytesWaiting(count)) {
    NoteOsFailure(err);
    count = 0;
  } else {
    SetError(0);
  }
  ThrowIfEnabled();
  return count;
}

int TBlockSerial::ReadBytes(char* buffer, int count) {
  if (CheckNotReady()) return 0;
  if (count < 0 || (count > 0 && buffer == nullptr)) {
    FailWith(ErrorBadParameter);
    return 0;
  }
  TUseGuard use(*this);
  if (!use) {
    FailWith(ErrorNotOpen);
    return 0;
  }
  ThrottleTransfer(count, FMaxReceiveRate, FNextReceiveTick);
  SetError(0);
  int got = 0;
  if (count > 0) {
    if (const int err = OsRead(buffer, count, got)) NoteOsFailure(err);
  }
  if (const uint32_t flags = OsLineErrors()) DecodeLineErrors(flags);
  ThrowIfEnabled();
  ReportStatus(ReasonReadCount, std::to_string(got));
  return got;
}

int TBlockSerial::WriteBytes(const char* buffer, int count) {
  if (CheckNotReady()) return 0;
  if (count < 0 || (count > 0 && buffer == nullptr)) {
    FailWith(ErrorBadParameter);
    return 0;
  }
  TUseGuard use(*this);
  if (!use) {
    FailWith(ErrorNotOpen);
    return 0;
  }
  ThrottleTransfer(count, FMaxSendRate, FNextSendTick);
  if (FSoftRtsToggle) {
    FlushOutput();
    SetRts(true);
  }
  SetError(0);
  int written = 0;
  if (count > 0) {
    const int err = OsWrite(buffer, count, written);
    if (err == ErrorTimeout) {
      OsPurgeOutput();
      SetError(ErrorTimeout);
    } else if (err != 0) {
      NoteOsFailure(err);
    }
  }
  if (const uint32_t flags = OsLineErrors()) DecodeLineErrors(flags);
  if (FSoftRtsToggle) {
    FlushOutput();  // waits for the output queue to empty, too
    SetRts(false);
  }
  ThrowIfEnabled();
  ReportStatus(ReasonWriteCount, std::to_string(written));
  return written;
}

void TBlockSerial::WriteText(const ByteString& text) {
  WriteBytes(text.data(), static_cast<int>(text.size()));
}

void TBlockSerial::FlushOutput() {
  SetError(0);
  TUseGuard use(*this);
  if (!use) {
    SetError(use.Refusal());
  } else {
    // Wait for the driver's queue in short steps rather than one blocking
    // drain, so that stopped flow control cannot hold ClosePort forever.
    const uint32_t start = MillisecondTick();
    int err = 0;
    for (;;) {
      int pending = 0;
      err = OsOutputQueue(pending);
      if (err != 0 || pending == 0) break;
      if (FDeadlockTimeout >= 0 &&
          TickDifference(start, MillisecondTick()) >= static_cast<uint32_t>(FDeadlockTimeout)) {
        err = ErrorTimeout;
        break;
      }
      if (!SleepUnlessClosing(2)) {
        err = ErrorNotOpen;
        break;
      }
    }
    if (err != 0) NoteOsFailure(err);
  }
  ThrowIfEnabled();
}

bool TBlockSerial::WaitReadable(int timeoutMs) {
  bool readable = BytesWaiting() > 0;
  if (!readable && !PortLost()) readable = WaitForLineEvent(kEvRxChar, timeoutMs);
  if (readable) ReportStatus(ReasonReadable, "");
  return readable;
}

bool TBlockSerial::WaitForLineEvent(uint32_t mask, int timeoutMs) {
  SetError(0);
  // Only the receive event can be watched on this platform.
  if (mask != kEvRxChar) {
    SetError(ErrorBadParameter);
    return false;
  }
  TUseGuard use(*this);
  if (!use) {
    SetError(use.Refusal());
    return false;
  }
  if (PortLost()) {
    SetError(FLostCode.load());
    return false;
  }
  if (BytesWaiting() > 0) return true;
  if (PortLost()) return false;
  bool readable = false;
  const int err = OsWaitReadable(timeoutMs, readable);
  if (err == ErrorNotOpen)
    SetError(ErrorNotOpen);
  else if (err != 0)
    NoteOsFailure(err);
  return readable;
}

void TBlockSerial::PurgeAll() {
  SetError(0);
  {
    TUseGuard use(*this);
    if (!use)
      SetError(use.Refusal());
    else if (const int err = OsPurge())
      NoteOsFailure(err);
    FLineBuffer.clear();
  }
  ThrowIfEnabled();
}

// ---- control and modem lines ---------------------------------------------------

void TBlockSerial::SetDtr(bool on) {
  TUseGuard use(*this);
  if (use) OsSetModemLine(true, on);
}

void TBlockSerial::SetRts(bool on) {
  TUseGuard use(*this);
  if (use) OsSetModemLine(false, on);
}

uint32_t TBlockSerial::ReadModemStatus() {
  SetError(0);
  uint32_t status = 0;
  {
    TUseGuard use(*this);
    if (!use)
      SetError(use.Refusal());
    else if (const int err = OsModemStatus(status))
      NoteOsFailure(err);
  }
  ThrowIfEnabled();
  FModemLines = status;
  return status;
}

bool TBlockSerial::IsCtsOn() { return (ReadModemStatus() & kMsCtsOn) != 0; }
bool TBlockSerial::IsDsrOn() { return (ReadModemStatus() & kMsDsrOn) != 0; }
bool TBlockSerial::IsRingOn() { return (ReadModemStatus() & kMsRingOn) != 0; }
bool TBlockSerial::IsCarrierOn() { return (ReadModemStatus() & kMsRlsdOn) != 0; }

// ---- helpers -------------------------------------------------------------------

void TBlockSerial::DecodeLineErrors(uint32_t flags) {
  // Later tests overwrite earlier ones: the last set flag wins.
  if (flags & kCeFrame) SetError(ErrorFraming);
  if (flags & kCeOverrun) SetError(ErrorOverrun);
  if (flags & kCeRxOver) SetError(ErrorReceiveOverflow);
  if (flags & kCeRxParity) SetError(ErrorParity);
  if (flags & kCeTxFull) SetError(ErrorTransmitFull);
}

void TBlockSerial::ThrottleTransfer(int count, uint32_t maxRate, uint32_t& nextTick) {
  if (maxRate == 0 || static_cast<int32_t>(maxRate) < 0) return;
  const uint32_t now = MillisecondTick();
  if (now < nextTick) {
    const uint32_t wait = nextTick - now;
    ReportStatus(ReasonThrottleWait, std::to_string(wait));
    SleepUnlessClosing(wait);
  }
  nextTick =
      static_cast<uint32_t>(static_cast<double>(count) / maxRate * 1000.0) + MillisecondTick();
}

void TBlockSerial::ReportStatus(THookSerialReason reason, const std::string& value) {
  if (FOnStatus) FOnStatus(this, reason, value);
}
