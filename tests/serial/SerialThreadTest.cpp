// The reader thread's view of the port: a close from another thread, and a
// port that goes away underneath the reader.
#include <gtest/gtest.h>

#include <atomic>

#include "serial/vVantrelSer.h"
#include "support/PtyPair.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(SerialThread, CloseFromAnotherThreadEndsAWaitingRead) {
  TPtyPair pty;
  for (int round = 0; round < 20; ++round) {
    TVantrelSerial port;
    port.OpenPort(pty.Path);
    ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
    std::atomic<bool> started{false};
    std::atomic<long long> returnedAt{0};
    ByteString got = "x";
    std::thread reader([&] {
      started = true;
      got = port.ReadAvailable(5000);
      returnedAt = Clock::now().time_since_epoch().count();
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(
        std::chrono::milliseconds(round % 4 * 5));  // sometimes before the wait starts
    const auto closeAt = Clock::now();
    port.ClosePort();
    reader.join();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        Clock::duration(returnedAt.load()) - closeAt.time_since_epoch())
                        .count();
    EXPECT_LT(ms, 50) << "round " << round;
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(port.Active());
    // The error state is readable after the reader has gone; a read
    // afterwards fails at once.
    EXPECT_TRUE(port.LastErrorCode() == 0 || port.LastErrorCode() == ErrorNotOpen)
        << port.LastErrorCode();
    EXPECT_TRUE(port.ReadAvailable(5000).empty());
    EXPECT_EQ(port.LastErrorCode(), ErrorNotOpen);
  }
}

TEST(SerialThread, CloseWhileDataFlowsLosesNothingBeforeTheClose) {
  TPtyPair pty;
  TVantrelSerial port;
  port.OpenPort(pty.Path);
  ASSERT_EQ(port.LastErrorCode(), 0);
  std::atomic<bool> stopWriter{false};
  std::atomic<int> sent{0};
  std::thread writer([&] {
    while (!stopWriter) {
      if (pty.Send(std::string(16, static_cast<char>('a' + sent % 26)))) sent += 16;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::string received;
  std::atomic<bool> readerDone{false};
  std::thread reader([&] {
    while (true) {
      ByteString chunk = port.ReadAvailable(1000);
      received += chunk;
      if (port.LastErrorCode() == ErrorNotOpen) break;
    }
    readerDone = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  port.ClosePort();
  reader.join();
  stopWriter = true;
  writer.join();
  EXPECT_TRUE(readerDone);
  EXPECT_GT(received.size(), 0u);
  EXPECT_EQ(received.size() % 16, 0u) << "a chunk was torn";
  for (size_t i = 0; i + 16 <= received.size(); i += 16)
    EXPECT_EQ(received.substr(i, 16), std::string(16, received[i])) << "at " << i;
}

TEST(SerialThread, VanishedPortFailsEveryReadAtOnce) {
  // While the reader waits, and when it comes back afterwards.
  for (bool whileWaiting : {true, false}) {
    TPtyPair pty;
    TVantrelSerial port;
    port.OpenPort(pty.Path);
    ASSERT_EQ(port.LastErrorCode(), 0);
    EXPECT_FALSE(port.PortLost());
    std::thread hangup;
    if (whileWaiting)
      hangup = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.CloseMaster();
      });
    else
      pty.CloseMaster();
    auto t0 = Clock::now();
    EXPECT_TRUE(port.ReadAvailable(5000).empty());
    EXPECT_LT(MillisSince(t0), whileWaiting ? 1000 : 100);
    if (hangup.joinable()) hangup.join();
    EXPECT_TRUE(port.PortLost());
    EXPECT_EQ(port.LastErrorCode(), EIO);
    EXPECT_EQ(port.LastErrorText(), "Input/output error");
    for (int i = 0; i < 3; ++i) {
      t0 = Clock::now();
      EXPECT_TRUE(port.ReadAvailable(5000).empty());
      EXPECT_LT(MillisSince(t0), 50);
      EXPECT_EQ(port.LastErrorCode(), EIO);
    }
    port.ClosePort();
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_FALSE(port.Active());
  }
}

TEST(SerialThread, ErrorStateReadWhileTheReaderWrites) {
  TPtyPair pty;
  TVantrelSerial port;
  port.OpenPort(pty.Path);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) port.ReadAvailable(1);
  });
  for (int i = 0; i < 2000; ++i) {
    const std::string text = port.LastErrorText();
    EXPECT_TRUE(text == "OK" || text == "Timeout during operation") << text;
    (void)port.PortLost();
    (void)port.Active();
  }
  stop = true;
  reader.join();
}

}  // namespace
