#include "bus/uVantrelThr.h"

#include "serial/vVantrelSer.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <deque>
#include <exception>
#include <stdexcept>

TVantrelSerial* BusSerial = nullptr;
TReadComDaemon* ComDaemon = nullptr;

// ---- Message queue ----------------------------------------------------------

namespace {

std::mutex QueueLock;
std::deque<ByteString> Queue;

// Separate from QueueLock so that the wake-up never runs under the queue lock,
// yet SetQueueWakeup can wait for a running call to finish.
std::mutex WakeupLock;
std::function<void()> QueueWakeup;

void WakeConsumer() {
  std::lock_guard<std::mutex> guard(WakeupLock);
  if (QueueWakeup) QueueWakeup();
}

}  // namespace

void QueueAdd(ByteString&& message) {
  bool wasEmpty;
  {
    std::lock_guard<std::mutex> guard(QueueLock);
    wasEmpty = Queue.empty();
    Queue.push_back(std::move(message));
  }
  if (wasEmpty) WakeConsumer();
}

void QueueAdd(const ByteString& message) { QueueAdd(ByteString(message)); }

int QueueCount() {
  std::lock_guard<std::mutex> guard(QueueLock);
  return static_cast<int>(std::min<size_t>(Queue.size(), INT_MAX));
}

void QueueTakeFirst(ByteString& out) {
  out.clear();
  std::lock_guard<std::mutex> guard(QueueLock);
  if (Queue.empty()) return;
  out = std::move(Queue.front());
  Queue.pop_front();
}

void SetQueueWakeup(std::function<void()> wakeup) {
  std::function<void()> old;
  {
    std::lock_guard<std::mutex> guard(WakeupLock);
    old.swap(QueueWakeup);
    QueueWakeup = std::move(wakeup);
  }
  // old is destroyed here, outside the lock, in case its captures do work.
}

// ---- Reader thread ----------------------------------------------------------

namespace {

int NotNegative(int ms) { return ms < 0 ? 0 : ms; }

}  // namespace

TReadComDaemon::TReadComDaemon(TVantrelSerial* serial, bool checkedFrames, int sleepTimeout,
                               int recvTimeout, int waitTimeout)
    : FSerial(serial),
      FCheckedFrames(checkedFrames),
      FSleepTimeout(NotNegative(sleepTimeout)),
      FRecvTimeout(NotNegative(recvTimeout)),
      FWaitTimeout(NotNegative(waitTimeout)) {}

TReadComDaemon::~TReadComDaemon() {
  Terminate();
  if (FThread.joinable()) {
    // Deleted from its own end notice: the thread touches nothing after it.
    if (FThread.get_id() == std::this_thread::get_id())
      FThread.detach();
    else
      FThread.join();
  }
}

void TReadComDaemon::SetOnTerminate(std::function<void(TReadComDaemon*)> onTerminate) {
  if (FThread.joinable()) throw std::logic_error("TReadComDaemon: end notice set after Start");
  FOnTerminate = std::move(onTerminate);
}

void TReadComDaemon::Start() {
  if (FSerial == nullptr) throw std::logic_error("TReadComDaemon: no serial link to read");
  if (FThread.joinable() || Finished()) throw std::logic_error("TReadComDaemon: started twice");
  FThread = std::thread([this] { Run(); });
}

void TReadComDaemon::Terminate() {
  FTerminated.store(true, std::memory_order_release);
  { std::lock_guard<std::mutex> guard(FSleepMutex); }  // no lost notify against Pause
  FSleepWake.notify_all();
}

void TReadComDaemon::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TReadComDaemon::Run() {
  try {
    Execute();
  } catch (const std::exception& e) {
    FEndReason = erFailed;
    FEndErrorText = e.what();
  }
  if (FEndReason == erNone) FEndReason = erStopped;
  // The notice may delete this object: copy it first, touch nothing after.
  std::function<void(TReadComDaemon*)> notice = FOnTerminate;
  FFinished.store(true, std::memory_order_release);
  if (notice) notice(this);
}

int TReadComDaemon::FrameLength(std::string_view buffer) const noexcept {
  int n = FCheckedFrames ? CheckedMessageLength(buffer) : MessageLength(buffer);
  return n < 0 ? 0 : n;
}

void TReadComDaemon::PutMessage(std::string_view message) {
  if (!Terminated()) QueueAdd(ByteString(message));
}

bool TReadComDaemon::Pause(int ms) {
  if (ms <= 0) {
    std::this_thread::yield();
  } else {
    std::unique_lock<std::mutex> lock(FSleepMutex);
    FSleepWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Terminated(); });
  }
  return !Terminated();
}

bool TReadComDaemon::ReadInto(ByteString& buffer, int timeoutMs) {
  buffer += FSerial->ReadAvailable(timeoutMs);
  if (Terminated()) return false;
  if (FSerial->PortLost()) {
    // Polling a vanished port would spin forever; end and say why.
    FEndReason = erPortLost;
    FEndErrorCode = FSerial->LastErrorCode();
    FEndErrorText = FSerial->LastErrorText();
    HandOnRest(buffer);
    return false;
  }
  return true;
}

// No more bytes will come: what is complete is cut, the rest goes on whole.
void TReadComDaemon::HandOnRest(ByteString& buffer) {
  CutCompleteMessages(buffer);
  if (!buffer.empty()) PutMessage(buffer);
  buffer.clear();
}

size_t TReadComDaemon::CutCompleteMessages(ByteString& buffer) {
  // Walk a view and erase once at the end, so a burst of a million one-byte
  // items costs one pass, not a million moves of the rest.
  std::string_view rest(buffer);
  size_t count = 0;
  int n = FrameLength(rest);
  while (n > 0 && static_cast<size_t>(n) <= rest.size() && !Terminated()) {
    PutMessage(rest.substr(0, static_cast<size_t>(n)));
    rest.remove_prefix(static_cast<size_t>(n));
    ++count;
    n = FrameLength(rest);
    std::this_thread::yield();  // let the window thread drain a long burst
  }
  if (Terminated()) rest = {};  // dropped: nobody takes them any more
  buffer.erase(0, buffer.size() - rest.size());
  return count;
}

void TReadComDaemon::Execute() {
  using Clock = std::chrono::steady_clock;
  ByteString buffer;
  bool lastReadEmpty = false;
  while (!Terminated()) {
    // A zero sleep with reads that return at once (zero time-out, or a port
    // in error) would spin; pause a millisecond only when nothing came.
    int sleep = FSleepTimeout > 0 ? FSleepTimeout : (lastReadEmpty ? 1 : 0);
    if (!Pause(sleep)) return;
    size_t before = buffer.size();
    if (!ReadInto(buffer, FRecvTimeout)) return;
    lastReadEmpty = buffer.size() == before;
    if (buffer.empty()) continue;

    int n = FrameLength(buffer);
    if (n == 0) {
      // Nothing recognisable at the head: the whole buffer is one message.
      PutMessage(buffer);
      buffer.clear();
    } else if (static_cast<size_t>(n) <= buffer.size()) {
      // The rest stays for the next cycle, even when unrecognised.
      CutCompleteMessages(buffer);
    } else {
      // Begun but incomplete: allow FWaitTimeout for the rest.
      if (FWaitTimeout > 0) {
        const auto start = Clock::now();
        const auto limit = std::chrono::milliseconds(FWaitTimeout);
        if (!ReadInto(buffer, FWaitTimeout)) return;
        n = FrameLength(buffer);
        while ((Clock::now() - start) < limit && static_cast<size_t>(n) > buffer.size()) {
          if (!ReadInto(buffer, FWaitTimeout)) return;
          n = FrameLength(buffer);
        }
      }
      if (n != 0) {
        // Complete, or short when the rest did not come in time.
        size_t take = std::min(static_cast<size_t>(n), buffer.size());
        PutMessage(std::string_view(buffer).substr(0, take));
        buffer.erase(0, take);
      }
    }
  }
}
