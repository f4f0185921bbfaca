// TBusConnection: the link, its reader and the wait for a lost port.
#include "bus/BusConnection.h"

#include <tuple>
#include <utility>

namespace {

std::string StopBitsText(int stopBit) {
  switch (stopBit) {
    case 0:
      return "1";
    case 1:
      return "1.5";
    case 2:
      return "2";
    default:
      return std::to_string(stopBit);
  }
}

std::string LineText(const TBusConnection::TLine& line) {
  std::string text = std::to_string(line.Baud) + " " + std::to_string(line.Bits) + line.Parity +
                     StopBitsText(line.StopBit);
  if (line.HardFlow) text += " RTS/CTS";
  if (line.SoftFlow) text += " XON/XOFF";
  return text;
}

// Which line setting the port refused.  Values no line has are refused by
// the serial class itself (it takes the low byte of bits and stop bits); of
// the others a driver refuses the baud rate or hardware flow control, which
// one more try tells apart.
std::pair<TLineField, std::string> RefusedSetting(TVantrelSerial& serial,
                                                  const TBusConnection::TLine& line) {
  const int bits = line.Bits & 0xFF, stop = line.StopBit & 0xFF;
  if (bits < 5 || bits > 8) return {TLineField::lfBits, std::to_string(line.Bits)};
  if (stop > 2) return {TLineField::lfStopBits, std::to_string(line.StopBit)};
  if (line.Baud <= 0) return {TLineField::lfBaud, std::to_string(line.Baud)};
  serial.ConfigureLine(9600, line.Bits, line.Parity, line.StopBit, line.SoftFlow, line.HardFlow);
  if (serial.LastErrorCode() == 0) return {TLineField::lfBaud, std::to_string(line.Baud)};
  if (line.HardFlow) {
    serial.ConfigureLine(line.Baud, line.Bits, line.Parity, line.StopBit, line.SoftFlow, false);
    if (serial.LastErrorCode() == 0) return {TLineField::lfFlow, "RTS/CTS"};
  }
  return {TLineField::lfLine, LineText(line)};
}

}  // namespace

TBusConnection::TBusConnection()
    : FWatch([this] {
        if (FOnWake) FOnWake();
      }) {}

bool TBusConnection::Open(const std::string& port, const TLine& line) {
  if (FState != csIdle) return false;
  FPort = port;
  FLine = line;
  FDevicePath.clear();
  if (!OpenLink(FError)) return false;
  FStage = stNone;
  FError = {};
  FState = csReading;
  FReader->Start();
  return true;
}

bool TBusConnection::WaitForMissingPort() {
  if (FState != csIdle || !FReconnect || FStage != stOpen ||
      FError.Fault != TPortFault::pfMissing || FDevicePath.empty())
    return false;
  FLostAtUs = WallClockUs();
  FRetryError = {};
  FState = csWaiting;
  FWatch.Start(FDevicePath);
  return true;
}

bool TBusConnection::OpenLink(TPortError& error) {
  auto serial = std::make_unique<TVantrelSerial>();
  serial->OpenPort(FPort);
  // The open error is the reason to show; configuring a port that is not
  // open would only replace it with "bad descriptor".
  if (serial->LastErrorCode() != 0) {
    FStage = stOpen;
    if (FDevicePath.empty()) FDevicePath = serial->DevicePath();
    error =
        OpenFailure(FPort, serial->DevicePath(), serial->LastErrorCode(), serial->LastErrorText());
    return false;
  }
  serial->ConfigureLine(FLine.Baud, FLine.Bits, FLine.Parity, FLine.StopBit, FLine.SoftFlow,
                        FLine.HardFlow);
  if (serial->LastErrorCode() != 0) {
    FStage = stConfigure;
    error = {};
    error.Fault = TPortFault::pfLineRefused;
    error.Port = FPort;
    error.Code = serial->LastErrorCode();
    error.SystemText = serial->LastErrorText();
    std::tie(error.RefusedField, error.RefusedValue) = RefusedSetting(*serial, FLine);
    serial->ClosePort();
    return false;
  }
  auto reader = std::make_unique<TReadComDaemon>(serial.get(), true, FLine.SleepTimeout,
                                                 FLine.RecvTimeout, FLine.WaitTimeout);
  reader->SetByteTimeUs(LineByteTimeUs(FLine.Baud, FLine.Bits, FLine.Parity, FLine.StopBit));
  reader->SetQueue(*FQueue);
  reader->SetOnTerminate([this](TReadComDaemon* d) {
    FEndedAtUs = WallClockUs();
    if (FOnTerminate) FOnTerminate(d);
  });
  reader->SetOnChunk([this](std::string_view bytes, int64_t timeUs) {
    FReceived.fetch_add(bytes.size(), std::memory_order_relaxed);
    if (FOnChunk) FOnChunk(bytes, timeUs);
  });
  if (FDevicePath.empty()) FDevicePath = serial->DevicePath();
  FOpenedAs = TPathEvents::IdentityOf(FDevicePath);
  FSerial = std::move(serial);
  FReader = std::move(reader);
  FEndedAtUs = 0;
  return true;
}

void TBusConnection::ReleaseLink() {
  if (FSerial) FSerial->ClosePort();
  if (FReader) {
    FReader->Terminate();
    FReader->WaitFor();
  }
  FReader.reset();
  FSerial.reset();
}

TBusConnection::TEvent TBusConnection::Service() {
  if (FState == csReading && FReader && FReader->Finished()) {
    TPortError why;
    why.Fault = TPortFault::pfLost;
    why.Port = FPort;
    why.Code = FReader->EndErrorCode();
    why.SystemText = FReader->EndErrorText();
    if (why.SystemText.empty()) why.SystemText = FSerial->LastErrorText();
    FError = why;
    FLostAtUs = FEndedAtUs.load() != 0 ? FEndedAtUs.load() : WallClockUs();
    if (FReader->EndReason() != TReadComDaemon::erPortLost || !FReconnect) {
      FState = csEnded;
      return evEnded;
    }
    // The reader queued all it had before it ended; nothing more is read
    // from this link.  Its descriptors go now, not at the return.
    ReleaseLink();
    FRetryError = {};
    FState = csWaiting;
    FWatch.Start(FDevicePath, FOpenedAs);
    return evLost;
  }
  if (FState == csWaiting && FWatch.TakeCheck()) {
    if (!OpenLink(FRetryError)) return evNone;  // gone again, busy, or not yet permitted
    FWatch.Stop();
    FState = csReading;
    FBackAtUs = WallClockUs();
    // The gap goes to the hooks before the new reader reads anything, so a
    // recording has it before the first bytes of the new link.
    if (FOnGap) FOnGap(FLostAtUs, FBackAtUs);
    FReader->Start();
    return evBack;
  }
  return evNone;
}

void TBusConnection::Close() {
  FWatch.Stop();
  if (FSerial) FSerial->ClosePort();
  if (FReader) {
    FReader->Terminate();
    FReader->WaitFor();
  }
  if (FState != csIdle) FState = csEnded;
}
