// The simulated central's platform part on Windows.  Without --port it
// serves a named pipe where Linux makes a pseudo-terminal: the reader opens
// the pipe's name like a port (the serial class takes pipes), so the window's
// demo runs through the same reader and framing as a real line.  With --port
// it writes to a COM port through the program's own serial class (a
// null-modem pair, or a port that a reader on another machine listens to).
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "base/Text.h"
#include "base/WideText.h"
#include "serial/BlockSerial.h"
#include "sim/SimCentral.h"

struct TSimCentral::TWinLine {
  TBlockSerial Port;
  HANDLE Wake = nullptr;  // manual reset: set by Stop
  // The pipe, and its pending wait for a reader (the event is set once one
  // has opened it).
  HANDLE Pipe = INVALID_HANDLE_VALUE;
  OVERLAPPED Connect{};
  HANDLE WriteDone = nullptr;
};

namespace {

// Writes that the line cannot take within this time are retried, so that a
// stop is seen between them.
constexpr int kWriteStepMs = 500;

// What a pipe buffers before a write waits for the reader.
constexpr DWORD kPipeBuffer = 64 * 1024;

// Appends the bytes sent to the save file; false with errno set.
bool SaveWhole(int fd, const char* data, std::size_t size) {
  for (std::size_t w = 0; w < size;) {
    const int s = _write(fd, data + w, static_cast<unsigned>(size - w));
    if (s < 0) return false;
    w += static_cast<std::size_t>(s);
  }
  return true;
}

// A pipe whose reader has gone.
bool ReaderGone(DWORD error) {
  return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
}

// Starts waiting for the next reader of the pipe; false on a system error.
bool ListenForReader(HANDLE pipe, OVERLAPPED& connect) {
  ResetEvent(connect.hEvent);
  if (ConnectNamedPipe(pipe, &connect)) return true;  // set the event itself
  switch (GetLastError()) {
    case ERROR_IO_PENDING:
      return true;
    case ERROR_PIPE_CONNECTED:  // opened between creation and this call
      SetEvent(connect.hEvent);
      return true;
    default:
      return false;
  }
}

}  // namespace

bool TSimCentral::OpenPty() {
  // A name of this process alone: several centrals may run at once.
  static std::atomic<unsigned> count{0};
  FPortPath = "\\\\.\\pipe\\vantrel-sim-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++count);
  TWinLine& line = *FWinLine;
  line.Pipe =
      CreateNamedPipeW(Widen(FPortPath).c_str(),
                       PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                       1, kPipeBuffer, kPipeBuffer, 0, nullptr);
  line.Connect.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  line.WriteDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (line.Pipe == INVALID_HANDLE_VALUE || !line.Connect.hEvent || !line.WriteDone ||
      !ListenForReader(line.Pipe, line.Connect)) {
    SetError("cannot create the pipe " + FPortPath + ": error " + std::to_string(GetLastError()));
    return false;
  }
  FIsPty = true;
  return true;
}

bool TSimCentral::OpenPort() {
  FPortPath = FConfig.Port;
  TBlockSerial& port = FWinLine->Port;
  port.OpenPort(FPortPath);
  if (port.LastErrorCode() != 0) {
    SetError("cannot open " + FPortPath + ": " + port.LastErrorText());
    return false;
  }
  port.ConfigureLine(FConfig.PortBaud, 8, "N", 0, false, false);
  if (port.LastErrorCode() != 0) {
    SetError("cannot configure " + FPortPath + ": " + port.LastErrorText());
    return false;
  }
  port.SetDeadlockTimeout(kWriteStepMs);
  return true;
}

bool TSimCentral::OpenOutputs() {
  FWinLine = new TWinLine;
  FWinLine->Wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!FWinLine->Wake) {
    SetError("cannot create an event: error " + std::to_string(GetLastError()));
    return false;
  }
  if (!FConfig.LinkPath.empty()) {
    SetError("a link to a pseudo-terminal exists on Linux only");
    return false;
  }
  if (!(FConfig.Port.empty() ? OpenPty() : OpenPort())) return false;
  if (!FConfig.SaveFile.empty()) {
    FSaveFd =
        _wopen(Widen(FConfig.SaveFile).c_str(),
               _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (FSaveFd < 0) {
      SetError("cannot write " + FConfig.SaveFile + ": " + SystemErrorText(errno));
      return false;
    }
  }
  return true;
}

void TSimCentral::WakeSender() {
  if (!FWinLine) return;
  SetEvent(FWinLine->Wake);
  // A write in progress ends too: closing the port wakes it (a write to the
  // pipe waits for the wake event itself).
  if (FThread.joinable() && !FIsPty) FWinLine->Port.ClosePort();
}

void TSimCentral::CloseAll() {
  if (FSaveFd >= 0) {
    if (_commit(FSaveFd) != 0)
      SetError("cannot write " + FConfig.SaveFile + ": " + SystemErrorText(errno));
    _close(FSaveFd);
  }
  FSaveFd = -1;
  if (FWinLine) {
    FWinLine->Port.ClosePort();
    if (FWinLine->Pipe != INVALID_HANDLE_VALUE) {
      CancelIoEx(FWinLine->Pipe, nullptr);
      CloseHandle(FWinLine->Pipe);
    }
    for (HANDLE h : {FWinLine->Wake, FWinLine->Connect.hEvent, FWinLine->WriteDone})
      if (h) CloseHandle(h);
    delete FWinLine;
    FWinLine = nullptr;
  }
}

bool TSimCentral::ReaderAttached() const {
  if (!FIsPty) return true;  // a port has no notion of it
  TWinLine& line = *FWinLine;
  if (WaitForSingleObject(line.Connect.hEvent, 0) != WAIT_OBJECT_0) return false;
  // A reader that has closed its end frees the pipe for the next one at once,
  // not only at the next write.
  if (PeekNamedPipe(line.Pipe, nullptr, 0, nullptr, nullptr, nullptr) ||
      !ReaderGone(GetLastError()))
    return true;
  DisconnectNamedPipe(line.Pipe);
  ListenForReader(line.Pipe, line.Connect);
  return false;
}

// Writes to the pipe as the reader takes it.  A reader that goes loses what
// was not written, and the pipe waits for the next one (as a pseudo-terminal
// does): the run pauses until then.
bool TSimCentral::WritePipe(const std::string& chunk) {
  TWinLine& line = *FWinLine;
  std::size_t done = 0;
  while (done < chunk.size() && !FStop) {
    OVERLAPPED ov{};
    ov.hEvent = line.WriteDone;
    DWORD n = 0;
    if (!WriteFile(line.Pipe, chunk.data() + done, static_cast<DWORD>(chunk.size() - done), nullptr,
                   &ov)) {
      const DWORD err = GetLastError();
      if (ReaderGone(err)) {
        DisconnectNamedPipe(line.Pipe);
        if (!ListenForReader(line.Pipe, line.Connect)) {
          SetError("cannot wait for a reader of " + FPortPath);
          return false;
        }
        return true;
      }
      if (err != ERROR_IO_PENDING) {
        SetError("cannot write to " + FPortPath + ": error " + std::to_string(err));
        return false;
      }
      const HANDLE waits[2] = {ov.hEvent, line.Wake};
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
        CancelIoEx(line.Pipe, &ov);
    }
    if (!GetOverlappedResult(line.Pipe, &ov, &n, TRUE) && n == 0 && !FStop) continue;
    if (n > 0 && FSaveFd >= 0 && !SaveWhole(FSaveFd, chunk.data() + done, n)) {
      SetError("cannot write " + FConfig.SaveFile + ": " + SystemErrorText(errno));
      return false;
    }
    done += n;
    FBytesSent += n;
  }
  return !FStop;
}

bool TSimCentral::Pause(int ms) {
  if (FStop) return false;
  WaitForSingleObject(FWinLine->Wake, ms < 0 ? 0 : static_cast<DWORD>(ms));
  return !FStop;
}

bool TSimCentral::WriteAll(const std::string& chunk) {
  if (FIsPty) return WritePipe(chunk);
  TBlockSerial& port = FWinLine->Port;
  std::size_t done = 0;
  while (done < chunk.size() && !FStop) {
    const int n = port.WriteBytes(chunk.data() + done, static_cast<int>(chunk.size() - done));
    const int err = port.LastErrorCode();
    if (n > 0 && FSaveFd >= 0 && !SaveWhole(FSaveFd, chunk.data() + done, n)) {
      SetError("cannot write " + FConfig.SaveFile + ": " + SystemErrorText(errno));
      return false;
    }
    done += static_cast<std::size_t>(n > 0 ? n : 0);
    FBytesSent += static_cast<uint64_t>(n > 0 ? n : 0);
    if (err == ErrorTimeout) continue;  // the line is slow or held: go on, stop permitting
    if (err != 0) {
      if (!FStop) SetError("cannot write to " + FPortPath + ": " + port.LastErrorText());
      return false;
    }
  }
  return !FStop;
}

void TSimCentral::Linger() {
  if (FIsPty) {
    // Closing the pipe throws away what the reader has not taken yet: give
    // it the time to take the rest and close first.
    const DWORD start = GetTickCount();
    while (ReaderAttached() && GetTickCount() - start < FConfig.LingerSeconds * 1000) {
      // Fails once the reader has closed its end.
      if (!PeekNamedPipe(FWinLine->Pipe, nullptr, 0, nullptr, nullptr, nullptr)) break;
      if (!Pause(50)) return;
    }
    return;
  }
  // What was written leaves the port before it is closed.
  TBlockSerial& port = FWinLine->Port;
  port.SetDeadlockTimeout(static_cast<int32_t>(FConfig.LingerSeconds * 1000));
  port.FlushOutput();
}
