// TBusConnection: one connection to the central, the link and the reader
// thread together, as both monitors (the window, vantrel-dump) open it.
// The owner uses it from one thread; only the hooks run on other threads.
//
//   TBusConnection c;
//   c.SetOnTerminate(...); c.SetOnWake(...);   // optional, before Open
//   c.SetReconnect(true);                       // optional
//   c.SetQueue(ownQueue);                       // optional: else the process's
//   if (!c.Open(port, line)) report(c.Error());
//   ... take items from c.Queue(); when a hook fired: c.Service() ...
//   c.Close();                                  // or let the destructor do it
//
// Reconnecting: when the reader ends because the port vanished, Service()
// releases the link and waits (TPortWatch) for the same name to come back;
// then it opens it again with the same line settings and starts a new
// reader.  Close() ends the wait at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "bus/PortError.h"
#include "bus/PortWatch.h"
#include "bus/uVantrelThr.h"
#include "serial/vVantrelSer.h"

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

  // What Service() found.
  enum TEvent {
    evNone,  // nothing new: still reading, or still waiting
    evLost,  // the port vanished; waiting for it now (Error() says why)
    evBack,  // reading again after a wait; the gap was LostAtUs()..BackAtUs()
    evEnded  // the reader ended and nothing follows (lost without reconnecting,
             // or failed; Error() says why): the owner closes the connection
  };

  TBusConnection();
  ~TBusConnection() { Close(); }
  TBusConnection(const TBusConnection&) = delete;
  TBusConnection& operator=(const TBusConnection&) = delete;

  // Handed to every reader thread (see TReadComDaemon); set before Open.
  void SetOnTerminate(std::function<void(TReadComDaemon*)> f) { FOnTerminate = std::move(f); }
  void SetOnChunk(TReadComDaemon::TChunkHook f) { FOnChunk = std::move(f); }
  // Called on the port watch's thread when a try to reopen is due: the
  // owner then calls Service() on its own thread.  Set before Open.
  void SetOnWake(std::function<void()> f) { FOnWake = std::move(f); }
  // Called by Service() on the owner's thread when reading resumes after a
  // wait: the line was down from fromUs to toUs (wall clock, microseconds
  // since the epoch).  A traffic view or a capture log marks the gap here.
  void SetOnGap(std::function<void(int64_t fromUs, int64_t toUs)> f) { FOnGap = std::move(f); }
  void SetReconnect(bool on) { FReconnect = on; }
  // Where every reader of this connection queues its items.  The window
  // keeps the process-wide queue (items left at a close are taken after
  // the next open); a program with a connection of its own passes its own
  // queue, which must outlive the connection.  Set before Open.
  void SetQueue(TMessageQueue& queue) { FQueue = &queue; }
  TMessageQueue& Queue() const { return *FQueue; }
  bool Reconnect() const { return FReconnect; }

  // Opens and configures the port, then starts the reader with checked
  // framing.  False when the port cannot be opened or configured: nothing is
  // left open or running, and FailedStage, Error, ErrorCode and ErrorText say
  // why.  Once open, false without trying again.
  bool Open(const std::string& port, const TLine& line);
  // After Open failed because the port does not exist (yet): with
  // reconnecting on, waits for it as after a loss and is then true; Service()
  // opens it when it appears (evBack, the gap counted from this call).
  bool WaitForMissingPort();
  TStage FailedStage() const { return FStage; }
  // Why Open failed, or why the port was lost.
  const TPortError& Error() const { return FError; }
  int ErrorCode() const { return FError.Code; }
  const std::string& ErrorText() const { return FError.SystemText; }

  // Owner thread, after a hook fired: notices the reader's end, starts or
  // ends a wait, tries to reopen.  Cheap when there is nothing to do.
  TEvent Service();
  bool Waiting() const { return FState == csWaiting; }
  int64_t LostAtUs() const { return FLostAtUs; }
  int64_t BackAtUs() const { return FBackAtUs; }
  // Why the last try to reopen failed while waiting (pfNone before a try).
  const TPortError& RetryError() const { return FRetryError; }
  // Bytes read since Open, over every reconnect.
  uint64_t ReceivedBytes() const { return FReceived.load(std::memory_order_relaxed); }
  const std::string& Port() const { return FPort; }

  // Ends a wait, closes the port (which wakes a waiting read), then stops
  // the reader and waits for it to end.  Items it queued stay in the queue.
  // Safe to repeat.
  void Close();

  // Both none before Open, after a failed one and while waiting; kept after
  // Close (the reader's end reason, the link's last error).
  TVantrelSerial* Serial() const { return FSerial.get(); }
  TReadComDaemon* Reader() const { return FReader.get(); }

private:
  enum TState { csIdle, csReading, csWaiting, csEnded };

  // Opens and configures the link and makes its reader, which the caller
  // starts; on failure fills error and leaves nothing open.
  bool OpenLink(TPortError& error);
  void ReleaseLink();

  std::unique_ptr<TVantrelSerial> FSerial;
  std::unique_ptr<TReadComDaemon> FReader;
  std::function<void(TReadComDaemon*)> FOnTerminate;
  TReadComDaemon::TChunkHook FOnChunk;
  std::function<void()> FOnWake;
  std::function<void(int64_t, int64_t)> FOnGap;
  bool FReconnect = false;
  TMessageQueue* FQueue = &ProcessQueue();
  TState FState = csIdle;
  TStage FStage = stNone;
  TPortError FError, FRetryError;
  std::string FPort, FDevicePath;
  TPathEvents::TIdentity FOpenedAs;  // the name while its port was open
  TLine FLine;
  std::atomic<int64_t> FEndedAtUs{0};
  int64_t FLostAtUs = 0, FBackAtUs = 0;
  std::atomic<uint64_t> FReceived{0};
  TPortWatch FWatch;
};
