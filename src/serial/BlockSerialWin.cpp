// TBlockSerial's platform layer for Windows: the Win32 communication calls on
// a handle opened for overlapped I/O.
//
// Waiting for the first byte is an overlapped one-byte ReadFile rather than
// WaitCommEvent: it behaves alike on every driver, and ClosePort ends it at
// once (a wake event, then CancelIoEx).  The byte it brings is kept in the
// read-ahead and handed out first.
//
// A named pipe opens too (the simulated central serves one where Linux has a
// pseudo-terminal): it has no line, so the line calls do nothing on it and
// the bytes waiting are the pipe's.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <string>

#include "base/WideText.h"
#include "serial/BlockSerial.h"
#include "serial/SerialPlatform.h"

struct TBlockSerial::TOsSaved {
  DCB Dcb{};  // as found at open, restored at close
  COMMTIMEOUTS Timeouts{};
  bool HaveTimeouts = false;
  HANDLE Wake = nullptr;      // manual reset; set by ClosePort
  HANDLE ReadDone = nullptr;  // completion events of the overlapped calls
  HANDLE WriteDone = nullptr;
  std::string ReadAhead;                // taken by the wait, not yet handed out
  std::atomic<uint32_t> LineErrors{0};  // collected by every ClearCommError
  bool Pipe = false;                    // a named pipe: no line state
};

namespace {

static_assert(sizeof(TLineState) == sizeof(DCB), "TLineState mirrors the DCB");

HANDLE AsHandle(int value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }

int AsInt(HANDLE h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)); }

void CloseQuietly(HANDLE& h) {
  if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  h = nullptr;
}

// How long an open waits for a busy pipe to be free.
constexpr DWORD kPipeFreeMs = 2000;

DWORD WaitLimit(int ms) { return ms < 0 ? INFINITE : static_cast<DWORD>(ms); }

// Bytes waiting in a pipe; false when it is broken.
bool PipeBytes(HANDLE h, DWORD& count) {
  count = 0;
  return PeekNamedPipe(h, nullptr, 0, nullptr, &count, nullptr) != 0;
}

// Ends an overlapped call that is still pending and collects what it did.
DWORD CancelAndCollect(HANDLE h, OVERLAPPED& ov) {
  CancelIoEx(h, &ov);
  DWORD done = 0;
  GetOverlappedResult(h, &ov, &done, TRUE);
  return done;
}

}  // namespace

void TBlockSerial::TOsSavedDelete::operator()(TOsSaved* saved) const { delete saved; }

int OsLastError() { return static_cast<int>(GetLastError()); }

void OsClearLastError() { SetLastError(0); }

std::string OsErrorText(int code) {
  wchar_t buffer[256] = {};
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(code), 0, buffer,
                                 sizeof buffer / sizeof buffer[0], nullptr);
  std::string text = Narrow(std::wstring_view(buffer, n));
  while (!text.empty()) {
    const char c = text.back();
    if (c != ' ' && c != '\r' && c != '\n' && c != '.' && c != '\t') break;
    text.pop_back();
  }
  return text;
}

bool OsMeansPortGone(int code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:  // an open handle whose USB adapter was pulled
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case 433:  // ERROR_NO_SUCH_DEVICE
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BROKEN_PIPE:  // the pipe's writer has gone
      return true;
    default:
      return false;
  }
}

std::string OsDevicePath(const std::string& name, int32_t portNumber, bool) {
  // Every parsed number, also from "/dev/ttyS<n>" (the port COM<n+1>).
  if (portNumber == -1) return name;
  return "\\\\.\\COM" + std::to_string(static_cast<int64_t>(portNumber) + 1);
}

int TBlockSerial::OsOpen(const std::string& path) {
  const std::wstring name = Widen(path);
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  // A pipe whose last reader has just let go is free again once its writer
  // has noticed: wait for that rather than fail.
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY &&
      WaitNamedPipeW(name.c_str(), kPipeFreeMs))
    h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());

  auto saved = new TOsSaved;
  saved->Dcb.DCBlength = sizeof(DCB);
  saved->Pipe = GetFileType(h) == FILE_TYPE_PIPE;
  // A file or another device opens too; only a serial port has a line state.
  if (!saved->Pipe && !GetCommState(h, &saved->Dcb)) {
    const int err = static_cast<int>(GetLastError());
    delete saved;
    CloseHandle(h);
    return err;
  }
  saved->HaveTimeouts = !saved->Pipe && GetCommTimeouts(h, &saved->Timeouts) != 0;
  saved->Wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  saved->ReadDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  saved->WriteDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!saved->Wake || !saved->ReadDone || !saved->WriteDone) {
    const int err = static_cast<int>(GetLastError());
    CloseQuietly(saved->Wake);
    CloseQuietly(saved->ReadDone);
    CloseQuietly(saved->WriteDone);
    delete saved;
    CloseHandle(h);
    return err;
  }

  // No events watched; a read returns what is queued, and one that finds
  // nothing waits for the first byte (no total time-out).
  if (!saved->Pipe) {
    SetCommMask(h, 0);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0xFFFF;
    SetCommTimeouts(h, &timeouts);
  }

  std::lock_guard<std::mutex> lock(FStateLock);
  FSaved.reset(saved);
  FHandle.store(AsInt(h));
  return 0;
}

void TBlockSerial::OsClose() {
  HANDLE h = AsHandle(FHandle.load());
  if (FHandle.load() >= 0 && FSaved) {
    if (!FSaved->Pipe) SetCommState(h, &FSaved->Dcb);
    if (FSaved->HaveTimeouts) SetCommTimeouts(h, &FSaved->Timeouts);
    CloseHandle(h);
  }
  FHandle.store(-1);
  if (FSaved) {
    CloseQuietly(FSaved->Wake);
    CloseQuietly(FSaved->ReadDone);
    CloseQuietly(FSaved->WriteDone);
  }
  FSaved.reset();
}

void TBlockSerial::OsWake() {
  if (FSaved && FSaved->Wake) SetEvent(FSaved->Wake);
}

int TBlockSerial::OsSetupQueues(int32_t inputSize, int32_t outputSize) {
  if (FSaved->Pipe) return 0;
  return SetupComm(AsHandle(FHandle.load()), static_cast<DWORD>(inputSize),
                   static_cast<DWORD>(outputSize))
             ? 0
             : static_cast<int>(GetLastError());
}

int TBlockSerial::OsApplyLineState(const TLineState& state) {
  DCB dcb = std::bit_cast<DCB>(state);
  if (FSaved->Pipe) {  // kept, so that it reads back as set
    FSaved->Dcb = dcb;
    return 0;
  }
  return SetCommState(AsHandle(FHandle.load()), &dcb) ? 0 : static_cast<int>(GetLastError());
}

int TBlockSerial::OsFetchLineState(TLineState& state) {
  DCB dcb = FSaved->Dcb;
  dcb.DCBlength = sizeof dcb;
  if (!FSaved->Pipe && !GetCommState(AsHandle(FHandle.load()), &dcb))
    return static_cast<int>(GetLastError());
  state = std::bit_cast<TLineState>(dcb);
  return 0;
}

int TBlockSerial::OsBytesWaiting(int& count) {
  DWORD errors = 0;
  COMSTAT status{};
  count = 0;
  if (FSaved->Pipe) {
    if (!PipeBytes(AsHandle(FHandle.load()), status.cbInQue))
      return static_cast<int>(GetLastError());
  } else if (!ClearCommError(AsHandle(FHandle.load()), &errors, &status)) {
    return static_cast<int>(GetLastError());
  }
  FSaved->LineErrors |= errors;
  count = static_cast<int>(status.cbInQue + FSaved->ReadAhead.size());
  return 0;
}

int TBlockSerial::OsRead(char* buffer, int count, int& got) {
  got = 0;
  std::string& ahead = FSaved->ReadAhead;
  if (!ahead.empty()) {
    got = static_cast<int>(std::min<size_t>(ahead.size(), static_cast<size_t>(count)));
    std::memcpy(buffer, ahead.data(), static_cast<size_t>(got));
    ahead.erase(0, static_cast<size_t>(got));
  }
  // Only what is queued: with no total time-out a longer read would wait for
  // the rest.
  DWORD errors = 0;
  COMSTAT status{};
  HANDLE h = AsHandle(FHandle.load());
  if (FSaved->Pipe ? !PipeBytes(h, status.cbInQue) : !ClearCommError(h, &errors, &status))
    return got > 0 ? 0 : static_cast<int>(GetLastError());
  FSaved->LineErrors |= errors;
  const DWORD want = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(count - got));
  if (want == 0) return 0;

  OVERLAPPED ov{};
  ov.hEvent = FSaved->ReadDone;
  DWORD done = 0;
  if (!ReadFile(h, buffer + got, want, nullptr, &ov)) {
    const DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) return got > 0 ? 0 : static_cast<int>(err);
    const HANDLE waits[2] = {ov.hEvent, FSaved->Wake};
    const DWORD r = WaitForMultipleObjects(2, waits, FALSE, WaitLimit(FDeadlockTimeout));
    if (r != WAIT_OBJECT_0) {
      got += static_cast<int>(CancelAndCollect(h, ov));
      if (r == WAIT_OBJECT_0 + 1) return ErrorNotOpen;
      if (!FSaved->Pipe) PurgeComm(h, PURGE_RXABORT);
      return ErrorTimeout;
    }
  }
  if (!GetOverlappedResult(h, &ov, &done, FALSE))
    return got > 0 ? 0 : static_cast<int>(GetLastError());
  got += static_cast<int>(done);
  return 0;
}

int TBlockSerial::OsWrite(const char* buffer, int count, int& written) {
  written = 0;
  HANDLE h = AsHandle(FHandle.load());
  OVERLAPPED ov{};
  ov.hEvent = FSaved->WriteDone;
  DWORD done = 0;
  if (!WriteFile(h, buffer, static_cast<DWORD>(count), nullptr, &ov)) {
    const DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) return static_cast<int>(err);
    const HANDLE waits[2] = {ov.hEvent, FSaved->Wake};
    const DWORD r = WaitForMultipleObjects(2, waits, FALSE, WaitLimit(FDeadlockTimeout));
    if (r != WAIT_OBJECT_0) {
      written = static_cast<int>(CancelAndCollect(h, ov));
      return r == WAIT_OBJECT_0 + 1 ? ErrorNotOpen : ErrorTimeout;
    }
  }
  if (!GetOverlappedResult(h, &ov, &done, FALSE)) return static_cast<int>(GetLastError());
  written = static_cast<int>(done);
  return 0;
}

int TBlockSerial::OsWaitReadable(int timeoutMs, bool& readable) {
  readable = !FSaved->ReadAhead.empty();
  if (readable) return 0;
  HANDLE h = AsHandle(FHandle.load());
  OVERLAPPED ov{};
  ov.hEvent = FSaved->ReadDone;
  char byte = 0;
  DWORD done = 0;
  if (!ReadFile(h, &byte, 1, nullptr, &ov)) {
    const DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) return static_cast<int>(err);
    const HANDLE waits[2] = {ov.hEvent, FSaved->Wake};
    const DWORD r = WaitForMultipleObjects(2, waits, FALSE, WaitLimit(timeoutMs));
    if (r != WAIT_OBJECT_0) {
      // A byte that came just before the cancel is kept all the same.
      if (CancelAndCollect(h, ov) == 1) FSaved->ReadAhead.push_back(byte);
      readable = !FSaved->ReadAhead.empty();
      return r == WAIT_OBJECT_0 + 1 ? ErrorNotOpen : 0;
    }
  }
  if (!GetOverlappedResult(h, &ov, &done, FALSE)) return static_cast<int>(GetLastError());
  // Without a total time-out a read ends empty only at the end of the line.
  if (done == 0) return kOsHungUp;
  FSaved->ReadAhead.push_back(byte);
  readable = true;
  return 0;
}

int TBlockSerial::OsPurge() {
  FSaved->ReadAhead.clear();
  if (FSaved->Pipe) return 0;  // the pipe's bytes are all the central's
  return PurgeComm(AsHandle(FHandle.load()),
                   PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)
             ? 0
             : static_cast<int>(GetLastError());
}

int TBlockSerial::OsPurgeOutput() {
  if (FSaved->Pipe) return 0;
  return PurgeComm(AsHandle(FHandle.load()), PURGE_TXABORT | PURGE_TXCLEAR)
             ? 0
             : static_cast<int>(GetLastError());
}

int TBlockSerial::OsOutputQueue(int& count) {
  DWORD errors = 0;
  COMSTAT status{};
  count = 0;
  if (FSaved->Pipe) return 0;
  if (!ClearCommError(AsHandle(FHandle.load()), &errors, &status))
    return static_cast<int>(GetLastError());
  FSaved->LineErrors |= errors;
  count = static_cast<int>(status.cbOutQue);
  return 0;
}

void TBlockSerial::OsSetModemLine(bool dtr, bool on) {
  if (FSaved->Pipe) return;
  const DWORD function = dtr ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS);
  EscapeCommFunction(AsHandle(FHandle.load()), function);
}

int TBlockSerial::OsModemStatus(uint32_t& status) {
  DWORD word = 0;
  status = 0;
  if (FSaved->Pipe) return 0;
  if (!GetCommModemStatus(AsHandle(FHandle.load()), &word)) return static_cast<int>(GetLastError());
  status = word & (kMsCtsOn | kMsDsrOn | kMsRingOn | kMsRlsdOn);
  return 0;
}

uint32_t TBlockSerial::OsLineErrors() {
  DWORD errors = 0;
  COMSTAT status{};
  if (!FSaved->Pipe && ClearCommError(AsHandle(FHandle.load()), &errors, &status))
    FSaved->LineErrors |= errors;
  return FSaved->LineErrors.exchange(0) &
         (kCeRxOver | kCeOverrun | kCeRxParity | kCeFrame | kCeTxFull);
}
