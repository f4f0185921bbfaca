// uVantrelThr: the message queue and the reader thread.
//
// The reader thread is the only code that reads the serial line.  It cuts the
// bytes into bus messages (call bytes, messages, unrecognised runs) and hands
// each to the window thread through the process-wide message queue; it touches
// nothing else.  Nothing on that path is lost, duplicated or reordered.
#pragma once

#include "bus/ItemClock.h"
#include "bus/uVantrelSeq.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

class TVantrelSerial;
class TReadComDaemon;

// ---- Message queue ----------------------------------------------------------
// First in, first out, no size limit, callable from any thread.  One lock,
// held only for the list operation.  The process-wide queue is never
// cleared: messages still waiting when a connection closes are taken after
// the next one opens.

// One queued message with the time the reader cut it.
struct TQueuedItem {
  ByteString Bytes;
  int64_t TimeUs = 0;  // wall clock, microseconds since the epoch
};

// Wall clock in microseconds since the epoch: the time of queued items.
int64_t WallClockUs() noexcept;

class TMessageQueue {
public:
  void Add(ByteString&& message, int64_t timeUs);
  int Count() const;
  // The oldest message, removed; "" (time 0) when the queue is empty.
  void TakeFirst(TQueuedItem& out);
  // wakeup runs on the adding thread once for every transition of the queue
  // from empty to non-empty (the consumer then drains until TakeFirst gives
  // ""; no wake-up is lost).  After SetWakeup returns, the previous function
  // is neither running nor called again.  It must not call SetWakeup.  An
  // empty function switches the wake-up off.
  void SetWakeup(std::function<void()> wakeup);

private:
  mutable std::mutex FLock;
  std::deque<TQueuedItem> FItems;
  // Apart from FLock so that the wake-up never runs under the queue's lock,
  // yet SetWakeup can wait for a running call to finish.
  std::mutex FWakeupLock;
  std::function<void()> FWakeup;
};

// The process-wide queue: the readers' by default, and the one the
// functions below are views of.
TMessageQueue& ProcessQueue();

void QueueAdd(ByteString&& message, int64_t timeUs);
void QueueAdd(const ByteString& message);  // stamped with the time of the call
void QueueAdd(ByteString&& message);
int QueueCount();
// The oldest message, removed from the queue; "" (time 0) when the queue is empty.
void QueueTakeFirst(TQueuedItem& out);
void QueueTakeFirst(ByteString& out);

// ProcessQueue().SetWakeup.
void SetQueueWakeup(std::function<void()> wakeup);

// ---- Connection references ----------------------------------------------------
// Views of the window's connection (TBusConnection owns both), set and
// cleared by the window thread only; none while disconnected.
extern TVantrelSerial* BusSerial;  // view: the connection's link
extern TReadComDaemon* ComDaemon;  // view: the connection's reader

// ---- Reader thread ----------------------------------------------------------
// Life: construct (suspended), SetOnTerminate and SetOnChunk, Start.  To end
// it, close the link (which wakes a waiting read) and Terminate, then WaitFor;
// TBusConnection does all of this.  The end notice runs on the reader thread
// after the body has returned; the window posts it to its event loop.
// Everything but the hooks and the body is called from one thread, the one
// that owns the object.
class TReadComDaemon {
public:
  enum TEndReason {
    erNone,      // still running, or never started
    erStopped,   // a stop was requested
    erPortLost,  // the link reported that its port vanished
    erFailed     // the body failed (out of memory); EndErrorText says why
  };

  // Every non-empty read as it came from the port, with its time.
  using TChunkHook = std::function<void(std::string_view bytes, int64_t timeUs)>;

  // The link is borrowed: never opened, closed or freed here.  checkedFrames
  // selects CheckedMessageLength (true) or MessageLength.  Time-outs in
  // milliseconds; negative values count as 0.
  TReadComDaemon(TVantrelSerial* serial, bool checkedFrames, int sleepTimeout, int recvTimeout,
                 int waitTimeout);
  // Requests a stop and joins a thread still running.
  ~TReadComDaemon();
  TReadComDaemon(const TReadComDaemon&) = delete;
  TReadComDaemon& operator=(const TReadComDaemon&) = delete;

  // Called on the reader thread once the body has returned; set before Start.
  void SetOnTerminate(std::function<void(TReadComDaemon*)> onTerminate);
  // Called on the reader thread for every read that brought bytes, before
  // they are cut (raw logs, capture files); set before Start.
  void SetOnChunk(TChunkHook onChunk);
  // Where the items go (ProcessQueue() unless set); set before Start.
  void SetQueue(TMessageQueue& queue) { FQueue = &queue; }
  // Microseconds a character takes on the line (LineByteTimeUs): items cut
  // from one read are timed back from it by the bytes after them.  0 (the
  // default): every item has its read's time.  Set before Start.
  void SetByteTimeUs(double byteTimeUs) { FClock = TItemClock(byteTimeUs); }
  void Start();
  void Terminate();  // stop request; also cuts a pending sleep short
  bool Terminated() const noexcept { return FTerminated.load(std::memory_order_acquire); }
  void WaitFor();  // joins the thread; no effect if not started or already joined
  bool Finished() const noexcept { return FFinished.load(std::memory_order_acquire); }

  TVantrelSerial* Serial() const noexcept { return FSerial; }

  // Why the body ended; meaningful once Finished() (or in the end notice).
  TEndReason EndReason() const noexcept { return FEndReason; }
  int EndErrorCode() const noexcept { return FEndErrorCode; }  // link's LastErrorCode
  const std::string& EndErrorText() const noexcept { return FEndErrorText; }

  // One pass of the body's cutting (CutComplete): queues the items at the
  // head of buffer in order and leaves in it what more bytes could still
  // change; final: no more bytes will come, the rest goes as it is.  Linear in
  // the buffer's size.  Returns the number of messages handed on.  Public for
  // tests and the benchmark; the body is its only other user.
  size_t CutCompleteMessages(ByteString& buffer, bool final = false);

private:
  void Run();
  void Execute();
  // Queues one item unless a stop was requested; false then.
  bool PutMessage(std::string_view message, int64_t timeUs);
  // Appends one read; false when the body must end (stop or lost port).
  bool ReadInto(ByteString& buffer, int timeoutMs);
  bool Pause(int ms);

  TVantrelSerial* FSerial;
  TMessageQueue* FQueue;
  TFrameRule FRule;
  int FSleepTimeout;
  int FRecvTimeout;
  int FWaitTimeout;

  std::function<void(TReadComDaemon*)> FOnTerminate;
  TChunkHook FOnChunk;
  TItemClock FClock;  // the body's
  bool FHadRead = false;
  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::mutex FSleepMutex;
  std::condition_variable FSleepWake;

  // Written by the body before FFinished is set.
  TEndReason FEndReason = erNone;
  int FEndErrorCode = 0;
  std::string FEndErrorText;
};
