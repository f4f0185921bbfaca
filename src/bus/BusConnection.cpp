#include "bus/BusConnection.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>

namespace {

// For "Permission denied" on a device file: which group the user must join.
std::string PermissionHint(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return {};
  struct group gr {};
  struct group* found = nullptr;
  char buf[4096];
  std::string name;
  if (::getgrgid_r(st.st_gid, &gr, buf, sizeof buf, &found) == 0 && found)
    name = found->gr_name;
  else
    name = std::to_string(st.st_gid);
  return " – uživatel musí být členem skupiny " + name;
}

}  // namespace

std::string OpenFailureText(int code, const std::string& text, const std::string& devicePath) {
  return code == EACCES ? text + PermissionHint(devicePath) : text;
}

bool TBusConnection::Open(const std::string& port, const TLine& line) {
  if (FSerial) return false;
  FSerial = std::make_unique<TVantrelSerial>();
  FSerial->OpenPort(port);
  // The open error is the reason to show; configuring a port that is not
  // open would only replace it with "bad descriptor".
  if (FSerial->LastErrorCode() != 0)
    return Fail(stOpen, OpenFailureText(FSerial->LastErrorCode(), FSerial->LastErrorText(),
                                        FSerial->DevicePath()));
  FSerial->ConfigureLine(line.Baud, line.Bits, line.Parity, line.StopBit, line.SoftFlow,
                         line.HardFlow);
  if (FSerial->LastErrorCode() != 0) return Fail(stConfigure, FSerial->LastErrorText());
  FReader = std::make_unique<TReadComDaemon>(FSerial.get(), true, line.SleepTimeout,
                                             line.RecvTimeout, line.WaitTimeout);
  FReader->SetOnTerminate(FOnTerminate);
  FReader->SetOnChunk(FOnChunk);
  FReader->Start();
  FStage = stNone;
  FErrorCode = 0;
  FErrorText.clear();
  return true;
}

bool TBusConnection::Fail(TStage stage, std::string text) {
  FStage = stage;
  FErrorCode = FSerial->LastErrorCode();
  FErrorText = std::move(text);
  FSerial->ClosePort();
  FSerial.reset();
  return false;
}

void TBusConnection::Close() {
  if (FSerial) FSerial->ClosePort();
  if (FReader) {
    FReader->Terminate();
    FReader->WaitFor();
  }
}
