// TBlockSerial: one serial port of the machine, opened by name, with the line
// parameters, a timed read of whatever has arrived, writes, purge and close.
//
// Failures are recorded, not thrown: every operation leaves LastErrorCode and
// LastErrorText; ESerialError is raised only when RaiseExcept is set.  The
// platform calls live behind the private Os* members and SerialPlatform.h:
// BlockSerialPosix.cpp (termios, poll) or BlockSerialWin.cpp (Win32 comm
// calls, overlapped I/O), one of which is built.
//
// Threads: the object is opened and configured on one thread; afterwards one
// reader thread may sit in ReadAvailable while another thread calls
// ClosePort.  ClosePort wakes that wait and closes the descriptor only after
// the reader has let go of it.  The error state, Active and PortLost may be
// read from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/ByteString.h"
#include "base/UniqueFd.h"

// Class error codes; every other non-zero code is a system error number.
constexpr int ErrorPortOwned = 9991;
constexpr int ErrorInUse = 9992;
constexpr int ErrorBadParameter = 9993;
constexpr int ErrorNotOpen = 9994;
constexpr int ErrorNoAnswer = 9995;
constexpr int ErrorLineTooLong = 9996;
constexpr int ErrorTimeout = 9997;
constexpr int ErrorReadFailed = 9998;
constexpr int ErrorFraming = 9999;
constexpr int ErrorOverrun = 10000;
constexpr int ErrorReceiveOverflow = 10001;
constexpr int ErrorParity = 10002;
constexpr int ErrorTransmitFull = 10003;

// Line-error flags as DecodeLineErrors takes them.
constexpr uint32_t kCeRxOver = 0x0001;
constexpr uint32_t kCeOverrun = 0x0002;
constexpr uint32_t kCeRxParity = 0x0004;
constexpr uint32_t kCeFrame = 0x0008;
constexpr uint32_t kCeTxFull = 0x0100;

// Modem-status bits of ReadModemStatus.
constexpr uint32_t kMsCtsOn = 0x10;
constexpr uint32_t kMsDsrOn = 0x20;
constexpr uint32_t kMsRingOn = 0x40;
constexpr uint32_t kMsRlsdOn = 0x80;

// Line event watched by WaitForLineEvent: a received character.
constexpr uint32_t kEvRxChar = 0x0001;

// Bits of TLineState::Flags.
constexpr uint32_t kDcbBinary = 0x0001;
constexpr uint32_t kDcbParity = 0x0002;
constexpr uint32_t kDcbOutxCtsFlow = 0x0004;
constexpr uint32_t kDcbDtrEnable = 0x0010;
constexpr uint32_t kDcbOutX = 0x0100;
constexpr uint32_t kDcbInX = 0x0200;
constexpr uint32_t kDcbRtsEnable = 0x1000;
constexpr uint32_t kDcbRtsHandshake = 0x2000;

// The line parameters in the classic device-control-block layout (28 bytes),
// which is what the settings and the flow-control rules are expressed in.
// ApplyLineState turns it into the platform's own line settings.
struct TLineState {
  uint32_t DCBlength = 0;
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;
  uint16_t wReserved = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 0;
  uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  uint8_t XonChar = 0;
  uint8_t XoffChar = 0;
  uint8_t ErrorChar = 0;
  uint8_t EofChar = 0;
  uint8_t EvtChar = 0;
  uint16_t wReserved1 = 0;
  bool operator==(const TLineState&) const = default;
};

enum THookSerialReason : int {
  ReasonClosed = 0,
  ReasonOpened = 1,
  ReasonReadable = 2,
  ReasonWritable = 3,
  ReasonReadCount = 4,
  ReasonWriteCount = 5,
  ReasonThrottleWait = 6,
};

class TBlockSerial;
using THookSerialStatus =
    std::function<void(TBlockSerial* sender, THookSerialReason reason, const std::string& value)>;

// "Communication error %d: %s".
class ESerialError : public std::runtime_error {
public:
  ESerialError(int number, const std::string& description);
  int ErrorNumber() const { return FErrorNumber; }
  const std::string& ErrorDescription() const { return FErrorDescription; }

private:
  int FErrorNumber;
  std::string FErrorDescription;
};

// Millisecond counter (wraps at 2^32) and the wrap-aware distance between two
// of its readings.
uint32_t MillisecondTick();
uint32_t TickDifference(uint32_t oldTick, uint32_t newTick);

class TBlockSerial {
public:
  TBlockSerial();
  virtual ~TBlockSerial();
  TBlockSerial(const TBlockSerial&) = delete;
  TBlockSerial& operator=(const TBlockSerial&) = delete;

  // ---- error state
  virtual void SetError(int code);
  virtual int CheckOsResult(int result);  // -1: take errno
  virtual void ThrowIfEnabled();
  virtual void FailWith(int code);
  static std::string GetErrorDesc(int code);
  virtual bool CheckNotReady();
  virtual bool ControlLinesOk();

  // ---- open, configure, close
  // POSIX: "COMn" (n >= 1) opens /dev/ttyS<n-1>.  Windows: "COMn" opens
  // \\.\COMn and "/dev/ttyS<n>" \\.\COM<n+1>.  Every other name opens unchanged.
  virtual void OpenPort(const std::string& name);
  virtual void ConfigureLine(int baud, int bits, const std::string& parity, int stopBits,
                             bool softFlow, bool hardFlow);
  virtual void ApplyLineState();
  virtual void FetchLineState();
  virtual void SetReceiveQueueSize(int size);
  // Safe from another thread while a reader waits in ReadAvailable.
  virtual void ClosePort();

  // ---- transfers
  // Everything queued now, waiting at most timeoutMs for the first byte
  // (a negative time-out waits until data, close or loss of the port).
  virtual ByteString ReadAvailable(int timeoutMs);
  virtual int BytesWaiting();
  virtual int ReadBytes(char* buffer, int count);
  virtual int WriteBytes(const char* buffer, int count);
  virtual void WriteText(const ByteString& text);
  virtual void FlushOutput();
  virtual bool WaitReadable(int timeoutMs);
  virtual bool WaitForLineEvent(uint32_t mask, int timeoutMs);
  virtual void PurgeAll();

  // ---- control and modem lines
  virtual void SetDtr(bool on);
  virtual void SetRts(bool on);
  virtual uint32_t ReadModemStatus();
  virtual bool IsCtsOn();
  virtual bool IsDsrOn();
  virtual bool IsRingOn();
  virtual bool IsCarrierOn();

  // ---- helpers
  virtual void DecodeLineErrors(uint32_t flags);
  virtual void ParsePortNumber(const std::string& name);
  virtual void ThrottleTransfer(int count, uint32_t maxRate, uint32_t& nextTick);
  virtual void ReportStatus(THookSerialReason reason, const std::string& value);

  // ---- state readable from any thread
  int LastErrorCode() const;
  std::string LastErrorText() const;
  bool Active() const { return FActive.load(); }
  // True once the open port vanished (hung up, unplugged); reads then fail at
  // once with the error that showed it.  Cleared by the next OpenPort.
  bool PortLost() const { return FPortLost.load(); }
  // The open descriptor, or -1.  On Windows the HANDLE's value: kernel handles
  // keep their meaning in 32 bits (the system itself shares them so between
  // 32- and 64-bit programs).
  int Handle() const { return FHandle.load(); }

  // ---- properties and owner-readable state
  const std::string& DevicePath() const { return FDevicePath; }
  // The hook runs on the thread of the operation it reports (reads: the
  // reading thread).  Set it before reading starts: it is not guarded.
  const THookSerialStatus& OnStatus() const { return FOnStatus; }
  void SetOnStatus(THookSerialStatus hook) { FOnStatus = std::move(hook); }
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t tag) { FTag = tag; }
  const ByteString& LineBuffer() const { return FLineBuffer; }
  void SetLineBuffer(const ByteString& data) { FLineBuffer = data; }
  bool RaiseExcept() const { return FRaiseExcept; }
  void SetRaiseExcept(bool on) { FRaiseExcept = on; }
  int32_t ReceiveQueueSize() const { return FReceiveQueueSize; }
  uint32_t ModemLines() const { return FModemLines; }
  bool SoftRtsToggle() const { return FSoftRtsToggle; }
  void SetSoftRtsToggle(bool on) { FSoftRtsToggle = on; }
  int32_t DeadlockTimeout() const { return FDeadlockTimeout; }
  void SetDeadlockTimeout(int32_t ms) { FDeadlockTimeout = ms; }
  bool TestDSR() const { return FTestDSR; }
  void SetTestDSR(bool on) { FTestDSR = on; }
  bool TestCTS() const { return FTestCTS; }
  void SetTestCTS(bool on) { FTestCTS = on; }
  bool PendingCr() const { return FPendingCr; }
  bool PendingLf() const { return FPendingLf; }
  int32_t MaxLineLength() const { return FMaxLineLength; }
  void SetMaxLineLength(int32_t n) { FMaxLineLength = n; }
  bool LinuxLock() const { return FLinuxLock; }
  void SetLinuxLock(bool on) { FLinuxLock = on; }
  uint32_t MaxSendRate() const { return FMaxSendRate; }
  void SetMaxSendRate(uint32_t bytesPerSecond) { FMaxSendRate = bytesPerSecond; }
  uint32_t MaxReceiveRate() const { return FMaxReceiveRate; }
  void SetMaxReceiveRate(uint32_t bytesPerSecond) { FMaxReceiveRate = bytesPerSecond; }
  bool ConvertLineEnd() const { return FConvertLineEnd; }
  void SetConvertLineEnd(bool on) { FConvertLineEnd = on; }
  bool ModemOk() const { return FModemOk; }
  int32_t AtTimeout() const { return FAtTimeout; }
  void SetAtTimeout(int32_t ms) { FAtTimeout = ms; }
  bool InterPacketTimeout() const { return FInterPacketTimeout; }
  void SetInterPacketTimeout(bool on) { FInterPacketTimeout = on; }
  int32_t PortNumber() const { return FPortNumber; }
  uint16_t PortAddress() const { return FPortAddress; }
  const TLineState& LineState() const { return FLineState; }
  // Driver queue sizes last requested (the POSIX driver sizes its own
  // queues; on Windows they go to SetupComm).
  int32_t RequestedInputQueue() const { return FRequestedInputQueue; }
  int32_t RequestedOutputQueue() const { return FRequestedOutputQueue; }

protected:
  // Records the driver queue sizes; false on a closed port.
  bool SetupQueues(int32_t inputSize, int32_t outputSize);

  TLineState FLineState;
  int32_t FReceiveQueueSize = 4096;

private:
  class TUseGuard;
  friend class TUseGuard;

  void MarkLost(int code);
  // Records a failed platform call; the codes that mean the device is gone
  // also mark the port lost.
  void NoteOsFailure(int code);
  // Hands FLineState to the driver (apply) or reads it from there.
  void ExchangeLineState(bool apply);
  bool SleepUnlessClosing(uint32_t ms);

  // ---- platform layer (BlockSerialPosix.cpp); all but OsOpen expect the
  // caller to hold a TUseGuard.  Each returns 0 or an error number.
  int OsOpen(const std::string& path);  // sets FHandle and the wake channel
  void OsClose();                       // restores the line, closes both
  void OsWake();
  int OsSetupQueues(int32_t inputSize, int32_t outputSize);
  int OsApplyLineState(const TLineState& state);
  int OsFetchLineState(TLineState& state);
  int OsBytesWaiting(int& count);
  int OsRead(char* buffer, int count, int& got);
  int OsWrite(const char* buffer, int count, int& written);  // bounded by DeadlockTimeout
  int OsWaitReadable(int timeoutMs, bool& readable);
  int OsPurge();
  int OsPurgeOutput();
  int OsOutputQueue(int& count);  // bytes not yet sent, the shift register included
  void OsSetModemLine(bool dtr, bool on);
  int OsModemStatus(uint32_t& status);
  uint32_t OsLineErrors();

  THookSerialStatus FOnStatus;
  std::atomic<int> FHandle{-1};
  int32_t FTag = 0;
  std::string FDevicePath;
  mutable std::mutex FErrorLock;
  int FLastErrorCode = 0;
  std::string FLastErrorText = "OK";
  ByteString FLineBuffer;
  bool FRaiseExcept = false;
  uint32_t FModemLines = 0;
  bool FSoftRtsToggle = false;
  int32_t FDeadlockTimeout = 30000;
  std::atomic<bool> FActive{false};
  bool FTestDSR = false;
  bool FTestCTS = false;
  bool FPendingCr = false;
  bool FPendingLf = false;
  int32_t FMaxLineLength = 0;
  bool FLinuxLock = true;
  uint32_t FMaxSendRate = 0;
  uint32_t FNextSendTick = 0;
  uint32_t FMaxReceiveRate = 0;
  uint32_t FNextReceiveTick = 0;
  bool FConvertLineEnd = false;
  bool FModemOk = false;
  int32_t FAtTimeout = 1000;
  bool FInterPacketTimeout = true;
  int32_t FPortNumber = -1;
  uint16_t FPortAddress = 0;
  int32_t FRequestedInputQueue = 0;
  int32_t FRequestedOutputQueue = 0;

  std::atomic<bool> FPortLost{false};
  std::atomic<int> FLostCode{0};

  // Descriptor hand-over between users and ClosePort.
  mutable std::mutex FStateLock;
  std::condition_variable FStateChanged;
  int FUsers = 0;
  bool FClosing = false;
  std::thread::id FCloser;

  // Platform state (POSIX: wake pipe, line settings found at open, line-error
  // counters; Windows: all of it in TOsSaved, the handle in FHandle).
  TUniqueFd FWakeRead;
  TUniqueFd FWakeWrite;
  struct TOsSaved;
  struct TOsSavedDelete {
    void operator()(TOsSaved* saved) const;  // in the platform file, where TOsSaved is known
  };
  std::unique_ptr<TOsSaved, TOsSavedDelete> FSaved;
};
