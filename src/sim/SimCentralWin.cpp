// The simulated central's platform part on Windows: it writes to a COM port
// through the program's own serial class (a null-modem pair, or a port that
// a reader on another machine listens to).  Pseudo-terminals exist on Linux
// only.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "base/Text.h"
#include "base/WideText.h"
#include "serial/BlockSerial.h"
#include "sim/SimCentral.h"

struct TSimCentral::TWinLine {
  TBlockSerial Port;
  HANDLE Wake = nullptr;  // manual reset: set by Stop
};

namespace {

// Writes that the line cannot take within this time are retried, so that a
// stop is seen between them.
constexpr int kWriteStepMs = 500;

}  // namespace

bool TSimCentral::OpenPty() {
  SetError("pseudo-terminals exist on Linux only: give a serial port with --port COMn");
  return false;
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
  // A write in progress ends too: closing the port wakes it.
  if (FThread.joinable()) FWinLine->Port.ClosePort();
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
    if (FWinLine->Wake) CloseHandle(FWinLine->Wake);
    delete FWinLine;
    FWinLine = nullptr;
  }
}

bool TSimCentral::ReaderAttached() const { return true; }  // a port has no notion of it

bool TSimCentral::Pause(int ms) {
  if (FStop) return false;
  WaitForSingleObject(FWinLine->Wake, ms < 0 ? 0 : static_cast<DWORD>(ms));
  return !FStop;
}

bool TSimCentral::WriteAll(const std::string& chunk) {
  TBlockSerial& port = FWinLine->Port;
  std::size_t done = 0;
  while (done < chunk.size() && !FStop) {
    const int n = port.WriteBytes(chunk.data() + done, static_cast<int>(chunk.size() - done));
    const int err = port.LastErrorCode();
    if (n > 0 && FSaveFd >= 0) {
      for (int w = 0; w < n;) {
        const int s = _write(FSaveFd, chunk.data() + done + w, static_cast<unsigned>(n - w));
        if (s < 0) {
          SetError("cannot write " + FConfig.SaveFile + ": " + SystemErrorText(errno));
          return false;
        }
        w += s;
      }
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
  // What was written leaves the port before it is closed.
  TBlockSerial& port = FWinLine->Port;
  port.SetDeadlockTimeout(static_cast<int32_t>(FConfig.LingerSeconds * 1000));
  port.FlushOutput();
}
