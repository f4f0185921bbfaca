// TBusConnection: one connection to the central, the link and the reader
// thread together, as both monitors (the window, vantrel-dump) open it: Open,
// take the items from the message queue, Close (or destroy it).  The owner
// uses it from one thread; only the hooks run on the reader thread.
#pragma once

#include <memory>
#include <string>

#include "bus/uVantrelThr.h"
#include "serial/vVantrelSer.h"

// The text shown when a port cannot be opened: the open error, and for
// "Permission denied" on a device file the group the user must join.
std::string OpenFailureText(int code, const std::string& text, const std::string& devicePath);

class TBusConnection {
public:
  // The line settings and the reader's three time-outs (milliseconds).
  struct TLine {
    int Baud = 9600, Bits = 8;
    std::string Parity = "N";  // letter, see ParityLetter
    int StopBit = 0;
    bool SoftFlow = false, HardFlow = false;
    int SleepTimeout = 10, RecvTimeout = 500, WaitTimeout = 50;
  };
  enum TStage { stNone, stOpen, stConfigure };  // the step at which Open failed

  TBusConnection() = default;
  ~TBusConnection() { Close(); }
  TBusConnection(const TBusConnection&) = delete;
  TBusConnection& operator=(const TBusConnection&) = delete;

  // Handed to the reader thread (see TReadComDaemon); set before Open.
  void SetOnTerminate(std::function<void(TReadComDaemon*)> f) { FOnTerminate = std::move(f); }
  void SetOnChunk(TReadComDaemon::TChunkHook f) { FOnChunk = std::move(f); }

  // Opens and configures the port, then starts the reader with checked
  // framing.  False when the port cannot be opened or configured: nothing is
  // left open or running, and FailedStage, ErrorCode and ErrorText (with the
  // permission hint) say why.  Once open, false without trying again.
  bool Open(const std::string& port, const TLine& line);
  TStage FailedStage() const { return FStage; }
  int ErrorCode() const { return FErrorCode; }
  const std::string& ErrorText() const { return FErrorText; }

  // Closes the port (which wakes a waiting read), then stops the reader and
  // waits for it to end.  Items it queued stay in the queue.  Safe to repeat.
  void Close();

  // Both none before Open and after a failed one; kept after Close (the
  // reader's end reason, the link's last error).
  TVantrelSerial* Serial() const { return FSerial.get(); }
  TReadComDaemon* Reader() const { return FReader.get(); }

private:
  bool Fail(TStage stage, std::string text);

  std::unique_ptr<TVantrelSerial> FSerial;
  std::unique_ptr<TReadComDaemon> FReader;
  std::function<void(TReadComDaemon*)> FOnTerminate;
  TReadComDaemon::TChunkHook FOnChunk;
  TStage FStage = stNone;
  int FErrorCode = 0;
  std::string FErrorText;
};
