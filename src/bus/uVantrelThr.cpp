// uVantrelThr: the message queue and the reader thread's body.
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

int64_t WallClockUs() noexcept {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void TMessageQueue::Add(ByteString&& message, int64_t timeUs) {
  bool wasEmpty;
  {
    std::lock_guard<std::mutex> guard(FLock);
    wasEmpty = FItems.empty();
    FItems.push_back({std::move(message), timeUs});
  }
  if (!wasEmpty) return;
  std::lock_guard<std::mutex> guard(FWakeupLock);
  if (FWakeup) FWakeup();
}

int TMessageQueue::Count() const {
  std::lock_guard<std::mutex> guard(FLock);
  return static_cast<int>(std::min<size_t>(FItems.size(), INT_MAX));
}

void TMessageQueue::TakeFirst(TQueuedItem& out) {
  out.Bytes.clear();
  out.TimeUs = 0;
  std::lock_guard<std::mutex> guard(FLock);
  if (FItems.empty()) return;
  out = std::move(FItems.front());
  FItems.pop_front();
}

void TMessageQueue::SetWakeup(std::function<void()> wakeup) {
  std::function<void()> old;
  {
    std::lock_guard<std::mutex> guard(FWakeupLock);
    old.swap(FWakeup);
    FWakeup = std::move(wakeup);
  }
  // old is destroyed here, outside the lock, in case its captures do work.
}

TMessageQueue& ProcessQueue() {
  // Never cleared: what a closed connection left is taken after the next.
  static TMessageQueue queue;
  return queue;
}

void QueueAdd(ByteString&& message, int64_t timeUs) {
  ProcessQueue().Add(std::move(message), timeUs);
}
void QueueAdd(ByteString&& message) { QueueAdd(std::move(message), WallClockUs()); }
void QueueAdd(const ByteString& message) { QueueAdd(ByteString(message), WallClockUs()); }
int QueueCount() { return ProcessQueue().Count(); }
void QueueTakeFirst(TQueuedItem& out) { ProcessQueue().TakeFirst(out); }

void QueueTakeFirst(ByteString& out) {
  TQueuedItem item;
  QueueTakeFirst(item);
  out = std::move(item.Bytes);
}

void SetQueueWakeup(std::function<void()> wakeup) { ProcessQueue().SetWakeup(std::move(wakeup)); }

// ---- Reader thread ----------------------------------------------------------

namespace {

int NotNegative(int ms) { return ms < 0 ? 0 : ms; }

}  // namespace

TReadComDaemon::TReadComDaemon(TVantrelSerial* serial, bool checkedFrames, int sleepTimeout,
                               int recvTimeout, int waitTimeout)
    : FSerial(serial),
      FQueue(&ProcessQueue()),
      FRule(checkedFrames ? CheckedMessageLength : MessageLength),
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

void TReadComDaemon::SetOnChunk(TChunkHook onChunk) {
  if (FThread.joinable()) throw std::logic_error("TReadComDaemon: chunk hook set after Start");
  FOnChunk = std::move(onChunk);
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

bool TReadComDaemon::PutMessage(std::string_view message, int64_t timeUs) {
  if (Terminated()) return false;
  FQueue->Add(ByteString(message), timeUs);
  std::this_thread::yield();  // let the window thread drain a long burst
  return true;
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
  const ByteString chunk = FSerial->ReadAvailable(timeoutMs);
  if (!chunk.empty()) {
    const int64_t timeUs = WallClockUs();
    FClock.Read(timeUs);
    FHadRead = true;
    if (FOnChunk) FOnChunk(chunk, timeUs);
  }
  buffer += chunk;
  if (Terminated()) return false;
  if (FSerial->PortLost()) {
    // Polling a vanished port would spin forever; end and say why.  No more
    // bytes will come: the rest goes as it is.
    FEndReason = erPortLost;
    FEndErrorCode = FSerial->LastErrorCode();
    FEndErrorText = FSerial->LastErrorText();
    CutCompleteMessages(buffer, true);
    return false;
  }
  return true;
}

size_t TReadComDaemon::CutCompleteMessages(ByteString& buffer, bool final) {
  // Walk a view and erase once at the end, so a burst of a million one-byte
  // items costs one pass, not a million moves of the rest.
  if (!FHadRead) FClock.Read(WallClockUs());  // bytes handed in without a read
  size_t count = 0;
  const char* const end = buffer.data() + buffer.size();
  const size_t done = CutComplete(buffer, FRule, final, [&](std::string_view item) {
    const auto after = static_cast<size_t>(end - (item.data() + item.size()));
    if (!PutMessage(item, FClock.ItemTime(after))) return false;
    ++count;
    return true;
  });
  // After a stop nobody takes the rest any more: dropped.
  buffer.erase(0, Terminated() ? buffer.size() : done);
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
    // What more bytes could change stays for the next cycle; only when
    // nothing at all could be cut (a message begun, a call byte that may
    // begin one, unknown bytes up to the end) is FWaitTimeout allowed for more.
    if (buffer.empty() || CutCompleteMessages(buffer) > 0) continue;
    if (FWaitTimeout > 0) {
      const auto start = Clock::now();
      const auto limit = std::chrono::milliseconds(FWaitTimeout);
      size_t cut = 0;
      do {
        if (!ReadInto(buffer, FWaitTimeout)) return;
        cut = CutCompleteMessages(buffer);
      } while (cut == 0 && Clock::now() - start < limit);
      if (cut > 0) continue;
    }
    // Nothing came in time: the rest goes as it is, a message short.
    CutCompleteMessages(buffer, true);
  }
}
