#include "bus/uVantrelThr.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "bus/BusConnection.h"
#include "bus/RawFraming.h"
#include "serial/vVantrelSer.h"
#include "support/PortPair.h"
#include "support/TestBytes.h"

using namespace std::chrono_literals;

namespace {

std::vector<ByteString> DrainQueue() {
  std::vector<ByteString> items;
  for (ByteString m; QueueTakeFirst(m), !m.empty();) items.push_back(m);
  return items;
}

// The central's side of a connected pair (a pseudo-terminal, or two COM ports
// under wine), and a connection on the other side.
class Reader : public ::testing::Test {
protected:
  void SetUp() override {
    DrainQueue();
    SetQueueWakeup([this] {
      std::lock_guard<std::mutex> g(FMutex);
      ++FWakeups;
      FCv.notify_all();
    });
    ASSERT_FALSE(FPty.Path.empty()) << FPty.Problem;
  }

  void TearDown() override {
    FConnection.reset();
    SetQueueWakeup({});
    DrainQueue();
  }

  void Connect(int sleep, int recv, int wait) {
    FConnection = std::make_unique<TBusConnection>();
    FEnded = nullptr;
    FConnection->SetOnTerminate([this](TReadComDaemon* d) {
      std::lock_guard<std::mutex> g(FMutex);
      FEnded = d;
      FCv.notify_all();
    });
    ASSERT_TRUE(FConnection->Open(FPty.Path, {9600, 8, "N", 0, false, false, sleep, recv, wait}))
        << FConnection->ErrorText();
  }

  // The window's disconnect: close the link, then stop and join the thread.
  void Stop() { FConnection->Close(); }
  TReadComDaemon* Daemon() const { return FConnection->Reader(); }

  void Send(const ByteString& data) const { ASSERT_TRUE(FPty.Send(data)); }

  // Waits until count items wait.  The wake-up only marks empty -> non-empty,
  // so a queue that already holds items is looked at every few milliseconds.
  bool WaitCount(int count, std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock<std::mutex> lock(FMutex);
    while (QueueCount() < count) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      FCv.wait_for(lock, 5ms);
    }
    return true;
  }

  TPortPair FPty;
  std::unique_ptr<TBusConnection> FConnection;
  std::mutex FMutex;
  std::condition_variable FCv;
  int FWakeups = 0;
  TReadComDaemon* FEnded = nullptr;
};

const ByteString Contact = Bytes({0x4B, 0x49, 0x01, 0x03});  // checked, 4 bytes
const ByteString Turnout = Bytes({0x4A, 0x00, 0x01, 0x03});  // 4 bytes by length

TEST_F(Reader, CutsWhatArrivesTogether) {
  Connect(10, 500, 50);
  Send(Contact + Turnout);  // two messages in one read
  ASSERT_TRUE(WaitCount(2));
  EXPECT_EQ(DrainQueue(), (std::vector<ByteString>{Contact, Turnout}));

  Send(Bytes({0x41}) + Contact);  // call byte, then a message
  ASSERT_TRUE(WaitCount(2));
  EXPECT_EQ(DrainQueue(), (std::vector<ByteString>{Bytes({0x41}), Contact}));

  // Unknown bytes go on up to the next byte of a known kind, then framing
  // goes on; the run at the end waits for more, then goes as it is.
  Send(Bytes({0x20, 0x01}) + Contact + Bytes({0x21, 0x41, 0x22}));
  ASSERT_TRUE(WaitCount(5));
  EXPECT_EQ(DrainQueue(), (std::vector<ByteString>{Bytes({0x20, 0x01}), Contact, Bytes({0x21}),
                                                   Bytes({0x41}), Bytes({0x22})}));
}

TEST_F(Reader, SplitMessageWithinAndBeyondTheWait) {
  const ByteString speed = Bytes({0x61, 0xAA, 0xBB, 0xCC, 0xDD});  // 5 bytes by length
  Connect(10, 500, 400);
  Send(speed.substr(0, 2));
  std::this_thread::sleep_for(80ms);
  Send(speed.substr(2));
  ASSERT_TRUE(WaitCount(1));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(DrainQueue(), std::vector<ByteString>{speed});

  Connect(10, 500, 50);
  Send(speed.substr(0, 2));
  ASSERT_TRUE(WaitCount(1));
  std::this_thread::sleep_for(100ms);
  Send(speed.substr(2));  // late: unknown 0xBB, then the call bytes 0xCC and 0xDD
  ASSERT_TRUE(WaitCount(4));
  EXPECT_EQ(DrainQueue(), (std::vector<ByteString>{speed.substr(0, 2), Bytes({0xBB}), Bytes({0xCC}),
                                                   Bytes({0xDD})}));
}

// What completes the message during the wait may bring the next ones along:
// only the message's own bytes are one item.
TEST_F(Reader, MessageCompletedDuringTheWaitIsCutFromWhatFollows) {
  const ByteString speed = Bytes({0x61, 0x00, 0x03, 0x00, 0x83});
  Connect(10, 500, 400);
  Send(speed.substr(0, 2));
  std::this_thread::sleep_for(80ms);
  Send(speed.substr(2) + Contact + Bytes({0x41}));
  ASSERT_TRUE(WaitCount(3));
  EXPECT_EQ(DrainQueue(), (std::vector<ByteString>{speed, Contact, Bytes({0x41})}));
}

// 0x11, 0x12, 0x4B and 0x56 are call bytes and kinds: alone at the end of a
// read they wait like a begun message, and go as call bytes when nothing
// completes one in time.
TEST_F(Reader, CallByteThatMayBeginAMessageWaitsForIt) {
  Connect(10, 500, 400);
  Send(Bytes({0x41, 0x4B}));
  std::this_thread::sleep_for(80ms);
  Send(Contact.substr(1) + Bytes({0x11}));
  std::this_thread::sleep_for(80ms);
  Send(Bytes({0x11}));
  ASSERT_TRUE(WaitCount(3));
  EXPECT_EQ(DrainQueue(), (std::vector<ByteString>{Bytes({0x41}), Contact, Bytes({0x11, 0x11})}));

  Send(Bytes({0x56}));  // nothing follows
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitCount(1));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 300ms);
  EXPECT_EQ(DrainQueue(), std::vector<ByteString>{Bytes({0x56})});
}

TEST_F(Reader, NoWaitGoesOnShortAtOnce) {
  for (int wait : {0, -5}) {
    Connect(10, 500, wait);
    Send(Bytes({0x61, 0x01}));
    ASSERT_TRUE(WaitCount(1)) << wait;
    Send(Bytes({0x02, 0x03, 0x04}));  // unknown, a call byte, unknown
    ASSERT_TRUE(WaitCount(4)) << wait;
    EXPECT_EQ(DrainQueue(), (std::vector<ByteString>{Bytes({0x61, 0x01}), Bytes({0x02}),
                                                     Bytes({0x03}), Bytes({0x04})}));
  }
}

TEST_F(Reader, StopDropsWhatIsStillBeingCut) {
  Connect(50, 500, 50);
  // The first queued item stops the reader from inside the burst.
  SetQueueWakeup([this] { Daemon()->Terminate(); });
  Send(ByteString(4000, '\x41'));
  ASSERT_EQ(Daemon()->Serial(), FConnection->Serial());
  Daemon()->WaitFor();  // ends by itself: the stop interrupts nothing else
  EXPECT_EQ(DrainQueue(), std::vector<ByteString>{Bytes({0x41})});
  EXPECT_EQ(Daemon()->EndReason(), TReadComDaemon::erStopped);
  EXPECT_EQ(FEnded, Daemon());
}

TEST_F(Reader, QueueSurvivesToTheNextConnection) {
  Connect(10, 500, 50);
  Send(Contact);
  ASSERT_TRUE(WaitCount(1));
  Stop();
  EXPECT_EQ(QueueCount(), 1);
  Connect(10, 500, 50);
  Send(Turnout);
  ASSERT_TRUE(WaitCount(2));
  EXPECT_EQ(DrainQueue(), (std::vector<ByteString>{Contact, Turnout}));
}

#ifndef _WIN32
// The central's end hangs up as an unplugged adapter does.  Wine cannot show
// it: a COM port reader is not told when its pseudo-terminal hangs up (it
// goes on waiting), where Windows fails the read of a vanished device.
TEST_F(Reader, LostPortEndsTheThreadWithTheLinkError) {
  Connect(10, 500, 50);
  Send(Contact);
  ASSERT_TRUE(WaitCount(1));
  FPty.CloseMaster();  // the central's side hangs up
  {
    std::unique_lock<std::mutex> lock(FMutex);
    ASSERT_TRUE(FCv.wait_for(lock, 5s, [&] { return FEnded != nullptr; }))
        << "still polling a dead port";
  }
  EXPECT_EQ(FEnded, Daemon());
  EXPECT_TRUE(Daemon()->Finished());
  EXPECT_FALSE(Daemon()->Terminated());
  EXPECT_EQ(Daemon()->EndReason(), TReadComDaemon::erPortLost);
  EXPECT_NE(Daemon()->EndErrorCode(), 0);
  EXPECT_FALSE(Daemon()->EndErrorText().empty());
  EXPECT_EQ(DrainQueue(), std::vector<ByteString>{Contact});
}
#endif

// Every read goes to the hook with its time; each item is timed by its last
// byte: the read's time less the bytes after it at the line's byte time.
TEST_F(Reader, ChunksGoToTheHookAndItemsAreTimedByTheirLastByte) {
  ByteString chunks;
  std::vector<int64_t> chunkTimes;
  std::mutex m;
  FConnection = std::make_unique<TBusConnection>();
  FConnection->SetOnChunk([&](std::string_view bytes, int64_t timeUs) {
    std::lock_guard<std::mutex> g(m);
    chunks.append(bytes);
    chunkTimes.push_back(timeUs);
  });
  ASSERT_TRUE(FConnection->Open(FPty.Path, {}));  // 9600 8N1: 1041.7 µs a byte
  const ByteString sent = Contact + Bytes({0x1F, 0x1F, 0x1F});
  Send(sent);
  ASSERT_TRUE(WaitCount(4));
  std::vector<TQueuedItem> items(4);
  for (auto& item : items) QueueTakeFirst(item);
  Stop();
  std::lock_guard<std::mutex> g(m);
  EXPECT_EQ(chunks, sent);
  EXPECT_EQ(items[0].Bytes + items[1].Bytes + items[2].Bytes + items[3].Bytes, sent);
  for (size_t i = 1; i < items.size(); ++i) EXPECT_GE(items[i].TimeUs, items[i - 1].TimeUs);
  EXPECT_EQ(items[3].TimeUs, chunkTimes.back()) << "the last byte came with the last read";
  if (chunkTimes.size() == 1) {  // one read: each item one byte time before the next
    EXPECT_EQ(items[0].TimeUs, chunkTimes[0] - 3125);
    EXPECT_EQ(items[1].TimeUs, chunkTimes[0] - 2083);
    EXPECT_EQ(items[2].TimeUs, chunkTimes[0] - 1042);
  }
}

TEST(ItemClock, ItemsGoBackByTheBytesAfterThemButNeverBeforeWhatCameEarlier) {
  EXPECT_NEAR(LineByteTimeUs(9600, 8, "N", 0), 1041.67, 0.01);
  EXPECT_NEAR(LineByteTimeUs(9600, 8, "E", 2), 1250, 0.01);  // 1 + 8 + 1 + 2 bits
  EXPECT_NEAR(LineByteTimeUs(1200, 7, "O", 1), 8750, 0.01);  // 1 + 7 + 1 + 1.5 bits
  EXPECT_EQ(LineByteTimeUs(0, 8, "N", 0), 0);

  TItemClock clock(1000);
  clock.Read(1000000);
  EXPECT_EQ(clock.ItemTime(5), 995000);
  EXPECT_EQ(clock.ItemTime(0), 1000000);
  // The next read brought 20 bytes in 2 ms: the first items are not put
  // before the read that came before them.
  clock.Read(1002000);
  EXPECT_EQ(clock.ItemTime(19), 1000000);
  EXPECT_EQ(clock.ItemTime(1), 1001000);
  EXPECT_EQ(clock.ItemTime(3), 1001000) << "nor before the item before them";
  EXPECT_EQ(clock.ItemTime(0), 1002000);
  // Without a byte time every item has its read's time.
  TItemClock flat;
  flat.Read(5);
  EXPECT_EQ(flat.ItemTime(100), 5);
}

// Damaged traffic sent in random chunks, each soon after the one before, is
// framed live exactly as the capture of the same bytes.
TEST_F(Reader, LiveFramingOfRandomChunksEqualsTheCapturesFraming) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const ByteString pieces[] = {Contact,
                               Turnout,
                               Bytes({0x41}),
                               Bytes({0x11, 0x11}),
                               Bytes({0x00, 0x80, 0x80}),
                               Bytes({0x61, 1, 2, 3, 4})};
  ByteString sent;
  while (sent.size() < 8000) {
    sent += pieces[rng() % std::size(pieces)];
    if (rng() % 4 == 0) sent.push_back(static_cast<char>(rng()));  // damage
  }
  Connect(1, 100, 1000);
  for (size_t pos = 0; pos < sent.size();) {
    const size_t n = std::min<size_t>(1 + rng() % 40, sent.size() - pos);
    Send(sent.substr(pos, n));
    pos += n;
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 3));
  }
  const auto expected = FrameCapture(sent);
  ASSERT_TRUE(WaitCount(static_cast<int>(expected.size()), 10s));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(DrainQueue(), expected);
}

// Random traffic in random chunks with random pauses: the items, joined, are
// exactly the bytes written, and a consumer woken only by the queue's wake-up
// (never polling) gets all of them.
TEST_F(Reader, RandomTrafficArrivesWhole) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const ByteString pieces[] = {Contact,
                               Turnout,
                               Bytes({0x41}),
                               Bytes({0x1F}),
                               Bytes({0x11, 0x11}),
                               Bytes({0x00, 0x80, 0x80}),
                               Bytes({0x61, 1, 2, 3, 4})};
  ByteString sent;
  while (sent.size() < 30000) {
    if (rng() % 8 == 0)
      sent.push_back(static_cast<char>(rng()));
    else
      sent += pieces[rng() % std::size(pieces)];
  }

  ByteString received;
  std::atomic<size_t> receivedBytes{0};
  bool done = false;
  std::mutex m;
  std::condition_variable cv;
  bool woken = false;
  SetQueueWakeup([&] {
    std::lock_guard<std::mutex> g(m);
    woken = true;
    cv.notify_all();
  });
  std::thread consumer([&] {
    std::unique_lock<std::mutex> lock(m);
    while (true) {
      cv.wait_for(lock, 60s, [&] { return woken || done; });
      if (!woken && !done) return;  // a lost wake-up: give up, the check below fails
      woken = false;
      lock.unlock();
      for (ByteString item; QueueTakeFirst(item), !item.empty();) {
        received += item;
        receivedBytes += item.size();
      }
      lock.lock();
      if (done && !woken) return;
    }
  });

  Connect(1, 50, 5);
  for (size_t pos = 0; pos < sent.size();) {
    size_t n = std::min<size_t>(1 + rng() % 300, sent.size() - pos);
    Send(sent.substr(pos, n));
    pos += n;
    if (rng() % 4 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 15));
  }
  // Give the reader time to hand on everything, including a short tail.
  for (int i = 0; i < 3000 && receivedBytes < sent.size(); ++i) std::this_thread::sleep_for(20ms);
  Stop();
  {
    std::lock_guard<std::mutex> g(m);
    done = true;
    cv.notify_all();
  }
  consumer.join();
  for (ByteString item; QueueTakeFirst(item), !item.empty();) received += item;
  ASSERT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent);
}

TEST(ReaderQueue, TakeFirstAndWakeups) {
  DrainQueue();
  ByteString out = "junk";
  QueueTakeFirst(out);
  EXPECT_EQ(out, "");
  EXPECT_EQ(QueueCount(), 0);

  int wakeups = 0;
  SetQueueWakeup([&] { ++wakeups; });
  QueueAdd(Bytes({0x00}));  // a zero byte is a message like any other
  QueueAdd(Bytes({0x41}));
  EXPECT_EQ(wakeups, 1);
  QueueTakeFirst(out);
  EXPECT_EQ(out, Bytes({0x00}));
  QueueTakeFirst(out);
  QueueAdd(Bytes({0x42}));
  EXPECT_EQ(wakeups, 2);
  SetQueueWakeup({});
  DrainQueue();
  QueueAdd(Bytes({0x43}));
  EXPECT_EQ(wakeups, 2);
  DrainQueue();

  // The timed form keeps the time; the plain one stamps the time of the call.
  TQueuedItem item;
  const int64_t before = WallClockUs();
  QueueAdd(Bytes({0x44}), 1234);
  QueueAdd(Bytes({0x45}));
  QueueTakeFirst(item);
  EXPECT_EQ(item.Bytes, Bytes({0x44}));
  EXPECT_EQ(item.TimeUs, 1234);
  QueueTakeFirst(item);
  EXPECT_GE(item.TimeUs, before);
  EXPECT_LE(item.TimeUs, WallClockUs());
  QueueTakeFirst(item);
  EXPECT_EQ(item.Bytes, "");
  EXPECT_EQ(item.TimeUs, 0);
}

TEST(ReaderCut, RuleFollowsTheFlagAndStopDrops) {
  DrainQueue();
  ByteString buf = Bytes({0x11, 0x12, 0x4A, 0x00});
  TReadComDaemon checked(nullptr, true, 10, 500, 50);
  EXPECT_EQ(checked.CutCompleteMessages(buf), 2u);  // 11 fails its check: two call bytes
  EXPECT_EQ(buf, Bytes({0x4A, 0x00}));              // incomplete rest stays
  EXPECT_EQ(DrainQueue(), (std::vector<ByteString>{Bytes({0x11}), Bytes({0x12})}));

  buf = Bytes({0x11, 0x12, 0x20, 0x41});
  TReadComDaemon plain(nullptr, false, 10, 500, 50);
  EXPECT_EQ(plain.CutCompleteMessages(buf), 1u);
  EXPECT_EQ(buf, Bytes({0x20, 0x41}));  // unknown rest waits for the next cycle
  EXPECT_EQ(DrainQueue(), std::vector<ByteString>{Bytes({0x11, 0x12})});

  plain.Terminate();
  buf = Bytes({0x11, 0x12});
  plain.CutCompleteMessages(buf);
  EXPECT_EQ(QueueCount(), 0);
}

// A queue of its own: a reader handed one fills it and leaves the process's
// queue (the one QueueAdd and QueueTakeFirst see) alone; each queue wakes
// only its own consumer.
TEST(ReaderQueue, AReaderHandedItsOwnQueueFillsOnlyThat) {
  DrainQueue();
  TMessageQueue own;
  int ownWakeups = 0, processWakeups = 0;
  own.SetWakeup([&] { ++ownWakeups; });
  SetQueueWakeup([&] { ++processWakeups; });
  TReadComDaemon daemon(nullptr, true, 10, 500, 50);
  daemon.SetQueue(own);
  ByteString buf = Bytes({0x41, 0x4B, 0x49, 0x01, 0x03});
  EXPECT_EQ(daemon.CutCompleteMessages(buf), 2u);
  SetQueueWakeup({});
  EXPECT_EQ(QueueCount(), 0);
  EXPECT_EQ(processWakeups, 0);
  EXPECT_EQ(own.Count(), 2);
  EXPECT_EQ(ownWakeups, 1);
  TQueuedItem item;
  own.TakeFirst(item);
  EXPECT_EQ(item.Bytes, Bytes({0x41}));
  own.TakeFirst(item);
  EXPECT_EQ(item.Bytes, Bytes({0x4B, 0x49, 0x01, 0x03}));
  own.TakeFirst(item);
  EXPECT_EQ(item.Bytes, "");
  EXPECT_EQ(ProcessQueue().Count(), 0);
}

TEST(ReaderCut, MegabyteBurstBecomesAMillionItems) {
  DrainQueue();
  ByteString buf(1 << 20, '\x41');
  TReadComDaemon daemon(nullptr, true, 10, 500, 50);
  EXPECT_EQ(daemon.CutCompleteMessages(buf), size_t{1} << 20);
  EXPECT_TRUE(buf.empty());
  EXPECT_EQ(QueueCount(), 1 << 20);
  size_t items = 0;
  for (ByteString m; QueueTakeFirst(m), !m.empty(); ++items) ASSERT_EQ(m, "\x41");
  EXPECT_EQ(items, size_t{1} << 20);
}

double ThreadCpuSeconds() {
  timespec ts;
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Cutting must not move what follows for every item: the same 64K items cost
// about the same whether 1 MiB of not yet cut data follows them or not.
// (Thread CPU time, so that a busy machine does not count.)
TEST(ReaderCut, CostDoesNotGrowWithTheRestOfTheBuffer) {
  DrainQueue();
  TReadComDaemon daemon(nullptr, true, 10, 500, 50);
  const ByteString items(1 << 16, '\x41');
  auto cut = [&](const ByteString& tail) {
    ByteString buf = items + '\x20' + tail;  // 0x20 is unknown: a run to the end waits
    double t = ThreadCpuSeconds();
    EXPECT_EQ(daemon.CutCompleteMessages(buf), items.size());
    t = ThreadCpuSeconds() - t;
    EXPECT_EQ(buf.size(), 1 + tail.size());
    DrainQueue();
    return t;
  };
  cut("");  // warm up the allocator
  const double bare = cut("");
  const double withTail = cut(ByteString(1 << 20, '\x20'));
  EXPECT_LT(withTail, 3 * bare + 0.05) << "bare " << bare << " s, with tail " << withTail << " s";
}

// ---- the connection ------------------------------------------------------------

#ifndef _WIN32  // errno values and device groups: the serial tests cover Windows' errors

TEST(BusConnection, OpenSaysWhichStepFailedAndWhy) {
  TBusConnection missing;
  EXPECT_FALSE(missing.Open("/nonexistent/port", {}));
  EXPECT_EQ(missing.FailedStage(), TBusConnection::stOpen);
  EXPECT_EQ(missing.ErrorCode(), ENOENT);
  EXPECT_EQ(missing.ErrorText(), std::strerror(ENOENT));
  EXPECT_EQ(missing.Serial(), nullptr);
  EXPECT_EQ(missing.Reader(), nullptr);

  TPortPair pty;
  TBusConnection badLine;  // opens, but nine data bits are no line setting
  EXPECT_FALSE(badLine.Open(pty.Path, {9600, 9}));
  EXPECT_EQ(badLine.FailedStage(), TBusConnection::stConfigure);
  EXPECT_EQ(badLine.ErrorCode(), EINVAL);
  EXPECT_FALSE(badLine.ErrorText().empty());

  TBusConnection good;  // the failed one left nothing open
  ASSERT_TRUE(good.Open(pty.Path, {})) << good.ErrorText();
  EXPECT_EQ(good.FailedStage(), TBusConnection::stNone);
  EXPECT_FALSE(good.Open(pty.Path, {})) << "opened twice";
  good.Close();
  EXPECT_TRUE(good.Reader()->Finished()) << "Close must join the reader";
  EXPECT_FALSE(good.Serial()->Active());
  good.Close();
}

#endif

}  // namespace
