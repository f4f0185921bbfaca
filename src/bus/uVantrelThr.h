// uVantrelThr: the message queue and the reader thread.
//
// The reader thread is the only code that reads the serial line.  It cuts the
// bytes into bus messages (call bytes, messages, unrecognised runs) and hands
// each to the window thread through the process-wide message queue; it touches
// nothing else.  Nothing on that path is lost, duplicated or reordered.
#pragma once

#include "bus/uVantrelSeq.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

class TVantrelSerial;
class TReadComDaemon;

// ---- Message queue ----------------------------------------------------------
// First in, first out, no size limit, callable from any thread.  One lock,
// held only for the list operation.  Never cleared: messages still waiting
// when a connection closes are taken after the next one opens.

void QueueAdd(const ByteString& message);
void QueueAdd(ByteString&& message);
int QueueCount();
// The oldest message, removed from the queue; "" when the queue is empty.
void QueueTakeFirst(ByteString& out);

// wakeup runs on the adding thread once for every transition of the queue
// from empty to non-empty (the consumer then drains until QueueTakeFirst gives
// ""; no wake-up is lost).  After SetQueueWakeup returns, the previous function
// is neither running nor called again.  It must not call SetQueueWakeup.
// An empty function switches the wake-up off.
void SetQueueWakeup(std::function<void()> wakeup);

// ---- Connection references ----------------------------------------------------
// Set and cleared by the window thread only; none while disconnected.
extern TVantrelSerial* BusSerial;
extern TReadComDaemon* ComDaemon;

// ---- Reader thread ----------------------------------------------------------
// Life: construct (suspended), SetOnTerminate, Start.  To end it, close the
// link (which wakes a waiting read) and Terminate; the end notice then runs on
// the reader thread after the body has returned; the window posts it to its
// event loop and there calls WaitFor and deletes the object.
class TReadComDaemon {
public:
  enum TEndReason {
    erNone,      // still running, or never started
    erStopped,   // a stop was requested
    erPortLost,  // the link reported that its port vanished
    erFailed     // the body failed (out of memory); EndErrorText says why
  };

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
  void Start();
  void Terminate();  // stop request; also cuts a pending sleep short
  bool Terminated() const noexcept { return FTerminated.load(std::memory_order_acquire); }
  void WaitFor();  // joins the thread; no effect if not started or already joined
  bool Finished() const noexcept { return FFinished.load(std::memory_order_acquire); }

  TVantrelSerial* Serial() const noexcept { return FSerial; }
  bool CheckedFrames() const noexcept { return FCheckedFrames; }

  // Why the body ended; meaningful once Finished() (or in the end notice).
  TEndReason EndReason() const noexcept { return FEndReason; }
  int EndErrorCode() const noexcept { return FEndErrorCode; }  // link's LastErrorCode
  const std::string& EndErrorText() const noexcept { return FEndErrorText; }

  // One pass of cutting complete messages off the head of buffer, as the body
  // does after a read that completed at least one message: queues them in
  // order and leaves the incomplete or unrecognised rest in buffer.  Linear in
  // the buffer's size.  Returns the number of messages handed on.  Public for
  // tests and the benchmark; the body is its only other user.
  size_t CutCompleteMessages(ByteString& buffer);

private:
  void Run();
  void Execute();
  int FrameLength(std::string_view buffer) const noexcept;
  void PutMessage(std::string_view message);
  // Appends one read; false when the body must end (stop or lost port).
  bool ReadInto(ByteString& buffer, int timeoutMs);
  bool Pause(int ms);
  void HandOnRest(ByteString& buffer);

  TVantrelSerial* FSerial;
  bool FCheckedFrames;
  int FSleepTimeout;
  int FRecvTimeout;
  int FWaitTimeout;

  std::function<void(TReadComDaemon*)> FOnTerminate;
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
