// The port class on both platforms: opening, line settings, reads and writes
// against the other end of a connected pair (a pseudo-terminal on Linux, two
// joined COM ports on Windows).  Platform-only cases: SerialPosixTest.cpp,
// SerialWinTest.cpp.
#include <gtest/gtest.h>

#include <vector>

#include "serial/SerialPlatform.h"
#include "serial/vVantrelSer.h"
#include "support/PortPair.h"
#include "support/SerialStatusLog.h"

namespace {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32
const char* const kMissingPort = "COM199";
#else
const char* const kMissingPort = "/dev/vantrel-no-such-port";
#endif
constexpr int kFileNotFound = 2;  // ENOENT and ERROR_FILE_NOT_FOUND alike

TEST(SerialOpen, RaiseExceptThrowsWithCodeAndText) {
  TBlockSerial port;
  port.SetRaiseExcept(true);
  try {
    port.OpenPort(kMissingPort);
    FAIL() << "no exception";
  } catch (const ESerialError& e) {
    EXPECT_EQ(e.ErrorNumber(), kFileNotFound);
    EXPECT_FALSE(e.ErrorDescription().empty());
    EXPECT_EQ(e.ErrorDescription(), TBlockSerial::GetErrorDesc(kFileNotFound));
    EXPECT_EQ(std::string(e.what()), "Communication error 2: " + e.ErrorDescription());
  }
  // Closing never throws, so a destructor cannot end the program.
  EXPECT_NO_THROW(port.ClosePort());
}

TEST(SerialOpen, SecondOpenOfTheSameObjectLeavesTheFirstConnectionWorking) {
  TPortPair pair;
  ASSERT_FALSE(pair.Path.empty()) << pair.Problem;
  TStatusLog log;
  TVantrelSerial port;
  log.Attach(port);
  port.OpenPort(pair.Path);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  EXPECT_TRUE(port.Active());
  ASSERT_TRUE(log.Has(ReasonOpened));
  EXPECT_EQ(log.Events.back().second, port.DevicePath());
  port.ConfigureLine(19200, 8, "N", 0, false, false);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();

  const std::string path = port.DevicePath();
  port.OpenPort(kMissingPort);
  EXPECT_EQ(port.LastErrorCode(), ErrorInUse);
  EXPECT_EQ(port.LastErrorText(), "Instance already in use");
  EXPECT_EQ(port.DevicePath(), path);

  ASSERT_TRUE(pair.Send("still here"));
  EXPECT_EQ(port.ReadAvailable(2000), "still here");
  port.ClosePort();
  EXPECT_FALSE(port.Active());
  EXPECT_LT(port.Handle(), 0);
}

TEST(SerialLine, ConfigureLinePreparesTheLineState) {
  TBlockSerial base;
  base.ConfigureLine(9600, 8, "N", 0, false, false);
  const TLineState& s = base.LineState();
  EXPECT_EQ(s.DCBlength, 28u);
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, 0);
  EXPECT_EQ(s.StopBits, 0);
  EXPECT_EQ(s.Flags, 0x1011u);
  EXPECT_EQ(s.XonLim, 1024);
  EXPECT_EQ(s.XoffLim, 1024);
  EXPECT_EQ(s.XonChar, 0x11);
  EXPECT_EQ(s.XoffChar, 0x13);

  base.ConfigureLine(9600, 8, "N", 0, false, true);
  EXPECT_EQ(base.LineState().Flags, 0x2015u);
  base.ConfigureLine(9600, 8, "N", 0, true, false);
  EXPECT_EQ(base.LineState().Flags, 0x1311u);
  base.ConfigureLine(9600, 7, "e", 2, false, false);
  EXPECT_EQ(base.LineState().Parity, 2);
  EXPECT_EQ(base.LineState().Flags, 0x1013u);
  base.ConfigureLine(9600, 8, "x", 0, false, false);
  EXPECT_EQ(base.LineState().Parity, 0);
  EXPECT_EQ(base.LineState().Flags, 0x1011u);

  // The bus link prepares exactly the same state.
  TVantrelSerial link;
  for (bool soft : {false, true})
    for (bool hard : {false, true}) {
      base.ConfigureLine(4800, 7, "O", 1, soft, hard);
      link.ConfigureLine(4800, 7, "O", 1, soft, hard);
      EXPECT_EQ(base.LineState(), link.LineState());
    }
}

TEST(SerialLine, ConfigureLineOnAClosedPortReportsAnInvalidHandle) {
  TVantrelSerial port;
  port.OpenPort(kMissingPort);
  ASSERT_EQ(port.LastErrorCode(), kFileNotFound);
  port.ConfigureLine(9600, 8, "N", 0, false, false);
  EXPECT_EQ(port.LastErrorCode(), kOsBadHandle);
  EXPECT_EQ(port.LastErrorText(), TBlockSerial::GetErrorDesc(kOsBadHandle));
  EXPECT_FALSE(port.LastErrorText().empty());
  EXPECT_FALSE(port.Active());
}

TEST(SerialLine, RefusedLineValuesLeaveThePortOpenAndConfigurable) {
  TPortPair pair;
  ASSERT_FALSE(pair.Path.empty()) << pair.Problem;
  TVantrelSerial port;
  port.OpenPort(pair.Path);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  // Out-of-range values must not be cut to a byte that happens to be valid
  // (264 bits would be 8), nor reach the driver (a zero rate hangs up).
  for (const auto& [baud, bits, stop] : std::vector<std::tuple<int, int, int>>{{0, 8, 0},
                                                                               {-9600, 8, 0},
                                                                               {9600, 4, 0},
                                                                               {9600, 9, 0},
                                                                               {9600, 264, 0},
                                                                               {9600, 8, 3},
                                                                               {9600, 8, 256}}) {
    port.ConfigureLine(baud, bits, "N", stop, false, false);
    EXPECT_EQ(port.LastErrorCode(), kOsBadParameter) << baud << " " << bits << " " << stop;
  }
  EXPECT_TRUE(port.Active());
  port.ConfigureLine(9600, 8, "N", 0, false, false);
  EXPECT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  port.FetchLineState();
  EXPECT_EQ(port.LineState().BaudRate, 9600u);
  EXPECT_EQ(port.LineState().ByteSize, 8);
}

TEST(SerialLine, ReceiveQueueSizeOfBaseAndBusLink) {
  TPortPair pair;
  ASSERT_FALSE(pair.Path.empty()) << pair.Problem;
  TBlockSerial base;
  base.OpenPort(pair.Path);
  base.ConfigureLine(9600, 8, "N", 0, false, false);
  base.SetReceiveQueueSize(2048);
  EXPECT_EQ(base.ReceiveQueueSize(), 2048);
  EXPECT_EQ(base.RequestedInputQueue(), 2048);
  EXPECT_EQ(base.RequestedOutputQueue(), 0);
  base.ClosePort();

  TVantrelSerial link;
  link.OpenPort(pair.Path);
  link.ConfigureLine(9600, 8, "N", 0, false, false);
  link.SetReceiveQueueSize(2048);
  EXPECT_EQ(link.ReceiveQueueSize(), 2048);
  EXPECT_EQ(link.RequestedInputQueue(), 2048);
  EXPECT_EQ(link.RequestedOutputQueue(), 2048);
  EXPECT_EQ(link.LineState().XonLim, 0);  // not applied until the next ConfigureLine
  EXPECT_EQ(link.LineState().XoffLim, 0);
  link.ConfigureLine(9600, 8, "N", 0, false, false);
  EXPECT_EQ(link.LineState().XonLim, 512);  // recomputed from the new size
  EXPECT_EQ(link.LastErrorCode(), 0) << link.LastErrorText();
}

TEST(SerialLine, BusLinkWriteFlushesBeforeAndAfter) {
  struct TTracing : TVantrelSerial {
    std::string Trace;
    void FlushOutput() override {
      Trace += 'F';
      TVantrelSerial::FlushOutput();
    }
    int WriteBytes(const char* b, int n) override {
      Trace += 'W';
      return TVantrelSerial::WriteBytes(b, n);
    }
  };
  TPortPair pair;
  ASSERT_FALSE(pair.Path.empty()) << pair.Problem;
  TTracing port;
  port.OpenPort(pair.Path);
  port.ConfigureLine(115200, 8, "N", 0, false, false);
  port.WriteText("");
  EXPECT_EQ(port.Trace, "FWF");
  port.Trace.clear();
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  port.WriteText(all);
  EXPECT_EQ(port.Trace, "FWF");
  EXPECT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  EXPECT_EQ(pair.Receive(all.size()), all);
}

TEST(SerialRead, QueuedBytesComeInOneCallUnchanged) {
  TPortPair pair;
  ASSERT_FALSE(pair.Path.empty()) << pair.Problem;
  TVantrelSerial port;
  port.OpenPort(pair.Path);
  port.ConfigureLine(115200, 8, "N", 0, false, false);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();

  std::string burst;
  for (int i = 0; i < 300; ++i)
    burst += static_cast<char>(i & 0xFF);  // zeros, CR, XON/XOFF, ^C included
  ASSERT_TRUE(pair.Send(burst));
  ASSERT_TRUE(WaitQueued(port, 300));
  const auto t0 = Clock::now();
  const ByteString got = port.ReadAvailable(5000);
  EXPECT_LT(MillisSince(t0), 100);
  EXPECT_EQ(got, burst);
  EXPECT_EQ(port.LastErrorCode(), 0);

  // Bytes that arrive during the wait end it.
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pair.Send(std::string("\x61\x00\x05", 3));
  });
  const auto t1 = Clock::now();
  ByteString later = port.ReadAvailable(5000);
  late.join();
  EXPECT_LT(MillisSince(t1), 1000);
  // The first byte may end the wait alone; the rest comes with the next read.
  if (later.size() < 3) later += port.ReadAvailable(1000);
  EXPECT_EQ(later, std::string("\x61\x00\x05", 3));
}

TEST(SerialRead, SilentLineTimesOutAndClosedPortFailsAtOnce) {
  TPortPair pair;
  ASSERT_FALSE(pair.Path.empty()) << pair.Problem;
  TStatusLog log;
  TVantrelSerial port;
  port.OpenPort(pair.Path);
  auto t0 = Clock::now();
  EXPECT_TRUE(port.ReadAvailable(500).empty());
  const auto waited = MillisSince(t0);
  EXPECT_GE(waited, 450);
  EXPECT_LT(waited, 1500);
  EXPECT_EQ(port.LastErrorCode(), ErrorTimeout);
  EXPECT_EQ(port.LastErrorText(), "Timeout during operation");

  log.Attach(port);
  port.ClosePort();
  EXPECT_EQ(port.LastErrorCode(), 0);
  port.ClosePort();  // harmless, still reported
  EXPECT_EQ(port.LastErrorCode(), 0);
  ASSERT_EQ(log.Events.size(), 2u);
  EXPECT_EQ(log.Events[1].first, ReasonClosed);

  t0 = Clock::now();
  EXPECT_TRUE(port.ReadAvailable(5000).empty());
  EXPECT_LT(MillisSince(t0), 50);
  EXPECT_EQ(port.LastErrorCode(), ErrorNotOpen);
  EXPECT_EQ(port.LastErrorText(), "Instance not yet connected");
}

TEST(SerialErrors, TextsLineErrorsAndTicks) {
  EXPECT_EQ(TBlockSerial::GetErrorDesc(0), "OK");
  EXPECT_EQ(TBlockSerial::GetErrorDesc(ErrorTimeout), "Timeout during operation");
  EXPECT_EQ(TBlockSerial::GetErrorDesc(ErrorTransmitFull), "Tranceive Queue is full");
  TBlockSerial port;
  EXPECT_EQ(port.LastErrorText(), "OK");
  port.DecodeLineErrors(kCeFrame);
  EXPECT_EQ(port.LastErrorCode(), ErrorFraming);
  port.DecodeLineErrors(kCeFrame | kCeRxParity | kCeOverrun);
  EXPECT_EQ(port.LastErrorCode(), ErrorParity);  // the last tested flag wins
  port.DecodeLineErrors(kCeFrame | kCeTxFull);
  EXPECT_EQ(port.LastErrorCode(), ErrorTransmitFull);

  // System texts lose their trailing full stop and line break.
  const std::string text = TBlockSerial::GetErrorDesc(kFileNotFound);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '.');
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);

  EXPECT_EQ(TickDifference(0xFFFFFFF0u, 16u), 32u);
  EXPECT_EQ(TickDifference(100u, 40u), 60u);
  EXPECT_EQ(TickDifference(40u, 100u), 60u);
  EXPECT_EQ(TickDifference(7u, 7u), 0u);
}

}  // namespace
