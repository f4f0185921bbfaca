// Port naming, opening, line settings and reads on real pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "serial/vVantrelSer.h"
#include "support/PtyPair.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TStatusLog {
  std::vector<std::pair<THookSerialReason, std::string>> Events;
  void Attach(TBlockSerial& port) {
    port.SetOnStatus([this](TBlockSerial*, THookSerialReason r, const std::string& v) {
      Events.emplace_back(r, v);
    });
  }
  bool Has(THookSerialReason r) const {
    for (const auto& e : Events)
      if (e.first == r) return true;
    return false;
  }
};

TEST(SerialNaming, ComNamesMapToTtySAndOthersOpenUnchanged) {
  struct TCase {
    const char* Name;
    const char* Path;
    int Number;
  };
  // COM3 and com12 would be real UARTs; whether they open or not, the
  // device path and number are fixed before the open.
  for (const TCase& c :
       {TCase{"COM3", "/dev/ttyS2", 2}, TCase{"com12", "/dev/ttyS11", 11},
        TCase{"/dev/ttyS0", "/dev/ttyS0", 0}, TCase{"COM0", "COM0", -1},
        TCase{"COM$A", "/dev/ttyS9", 9}, TCase{"/dev/ttyUSB0", "/dev/ttyUSB0", -1}}) {
    TVantrelSerial port;
    port.OpenPort(c.Name);
    EXPECT_EQ(port.DevicePath(), c.Path) << c.Name;
    if (!port.Active()) {
      EXPECT_EQ(port.PortNumber(), c.Number) << c.Name;
    }
    port.ClosePort();
    EXPECT_EQ(port.PortNumber(), -1);
  }
  TBlockSerial p;
  for (const auto& [name, number] : std::vector<std::pair<std::string, int>>{{"COM", -1},
                                                                             {"COMx", -1},
                                                                             {"COM-3", -4},
                                                                             {"/DEV/TTYS", -2},
                                                                             {"/dev/ttyS1x", -2},
                                                                             {"/dev/ttyS 7", 7},
                                                                             {"/dev/pts/3", -1}}) {
    p.ParsePortNumber(name);
    EXPECT_EQ(p.PortNumber(), number) << name;
  }
}

TEST(SerialOpen, MissingAndUnusableNamesLeaveAClearErrorAndNoStatus) {
  char dirTemplate[] = "/tmp/vantrel-serial-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string dir = dirTemplate;
  const std::string file = dir + "/plain";
  std::ofstream(file) << "not a tty";

  struct TCase {
    std::string Name;
    int Code;
    const char* Text;
  };
  const std::vector<TCase> cases = {
      {"/dev/vantrel-no-such-port", ENOENT, "No such file or directory"},
      {"", ENOENT, "No such file or directory"},
      {std::string(5000, 'a'), ENAMETOOLONG, "File name too long"},
      {dir, EISDIR, "Is a directory"},
      {file, ENOTTY, "Inappropriate ioctl for device"},
      {"/dev/null", ENOTTY, "Inappropriate ioctl for device"},
      {std::string("/dev/null\0/x", 12), EINVAL, "Invalid argument"},
  };
  for (const auto& c : cases) {
    TStatusLog log;  // outlives the port, whose destructor reports the close
    TVantrelSerial port;
    log.Attach(port);
    port.OpenPort(c.Name);
    EXPECT_EQ(port.LastErrorCode(), c.Code) << c.Name.substr(0, 40);
    EXPECT_EQ(port.LastErrorText(), c.Text) << c.Name.substr(0, 40);
    EXPECT_FALSE(port.Active());
    EXPECT_LT(port.Handle(), 0);
    EXPECT_FALSE(log.Has(ReasonOpened));
    EXPECT_TRUE(port.ReadAvailable(1000).empty());
    EXPECT_EQ(port.LastErrorCode(), ErrorNotOpen);
  }
  std::remove(file.c_str());
  rmdir(dir.c_str());
}

TEST(SerialOpen, RaiseExceptThrowsWithCodeAndText) {
  TBlockSerial port;
  port.SetRaiseExcept(true);
  try {
    port.OpenPort("/dev/vantrel-no-such-port");
    FAIL() << "no exception";
  } catch (const ESerialError& e) {
    EXPECT_EQ(e.ErrorNumber(), ENOENT);
    EXPECT_EQ(e.ErrorDescription(), "No such file or directory");
    EXPECT_STREQ(e.what(), "Communication error 2: No such file or directory");
  }
  // Closing never throws, so a destructor cannot end the program.
  EXPECT_NO_THROW(port.ClosePort());
}

TEST(SerialOpen, SecondOpenAndForeignOwnerAreRefusedWithoutDisturbingTheOpenPort) {
  TPtyPair pty;
  ASSERT_FALSE(pty.Path.empty());
  TStatusLog log;
  TVantrelSerial port;
  log.Attach(port);
  port.OpenPort(pty.Path);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  EXPECT_TRUE(port.Active());
  EXPECT_EQ(port.PortNumber(), -1);
  ASSERT_TRUE(log.Has(ReasonOpened));
  EXPECT_EQ(log.Events.back().second, pty.Path);
  port.ConfigureLine(19200, 8, "N", 0, false, false);
  ASSERT_EQ(port.LastErrorCode(), 0);

  port.OpenPort("/dev/null");
  EXPECT_EQ(port.LastErrorCode(), ErrorInUse);
  EXPECT_EQ(port.LastErrorText(), "Instance already in use");
  EXPECT_EQ(port.DevicePath(), pty.Path);

  TVantrelSerial other;
  other.OpenPort(pty.Path);
  EXPECT_EQ(other.LastErrorCode(), ErrorPortOwned);
  EXPECT_EQ(other.LastErrorText(), "Port owned by other process");
  EXPECT_FALSE(other.Active());
  other.ClosePort();
  const termios kept = pty.Settings();
  EXPECT_EQ(cfgetospeed(&kept), B19200);

  ASSERT_TRUE(pty.Send("still here"));
  EXPECT_EQ(port.ReadAvailable(2000), "still here");

  // After a close the port is free again, also for another object.
  port.ClosePort();
  other.OpenPort(pty.Path);
  EXPECT_EQ(other.LastErrorCode(), 0) << other.LastErrorText();
}

TEST(SerialOpen, PortLockedByAnotherOpenerGivesPortOwned) {
  TPtyPair pty;
  const int holder = open(pty.Path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  TBlockSerial port;
  port.OpenPort(pty.Path);
  EXPECT_EQ(port.LastErrorCode(), ErrorPortOwned);
  EXPECT_FALSE(port.Active());
  close(holder);
  port.OpenPort(pty.Path);
  EXPECT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
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

TEST(SerialLine, ConfigureLineOnAClosedPortReportsABadDescriptor) {
  TVantrelSerial port;
  port.OpenPort("/dev/vantrel-no-such-port");
  ASSERT_EQ(port.LastErrorCode(), ENOENT);
  port.ConfigureLine(9600, 8, "N", 0, false, false);
  EXPECT_EQ(port.LastErrorCode(), EBADF);
  EXPECT_EQ(port.LastErrorText(), "Bad file descriptor");
  EXPECT_FALSE(port.Active());
}

TEST(SerialLine, AppliedSettingsReachTheTtyAndReadBack) {
  TPtyPair pty;
  TVantrelSerial port;
  port.OpenPort(pty.Path);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();

  // A pty always carries eight bits without parity; the rest reaches it.
  port.ConfigureLine(2400, 8, "N", 2, true, true);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  termios t = pty.Settings();
  EXPECT_EQ(cfgetospeed(&t), B2400);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_FALSE(t.c_cflag & HUPCL);
  const TLineState prepared = port.LineState();
  port.FetchLineState();
  EXPECT_EQ(port.LineState(), prepared);

  // Rates without a termios constant are set exactly.
  port.ConfigureLine(12345, 8, "N", 0, false, false);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  port.FetchLineState();
  EXPECT_EQ(port.LineState().BaudRate, 12345u);
  EXPECT_EQ(port.LineState().Flags, 0x1011u);

  // Refused values leave the line as it was (a zero rate would hang it up).
  port.ConfigureLine(9600, 8, "N", 0, false, false);
  for (const auto& [baud, bits, stop] : std::vector<std::tuple<int, int, int>>{{0, 8, 0},
                                                                               {-9600, 8, 0},
                                                                               {9600, 4, 0},
                                                                               {9600, 9, 0},
                                                                               {9600, 264, 0},
                                                                               {9600, 8, 3},
                                                                               {9600, 8, 256}}) {
    port.ConfigureLine(baud, bits, "N", stop, false, false);
    EXPECT_EQ(port.LastErrorCode(), EINVAL) << baud << " " << bits << " " << stop;
    t = pty.Settings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  }
  EXPECT_TRUE(port.Active());
}

TEST(SerialLine, ReceiveQueueSizeOfBaseAndBusLink) {
  TPtyPair pty;
  TBlockSerial base;
  base.OpenPort(pty.Path);
  base.ConfigureLine(9600, 8, "N", 0, false, false);
  base.SetReceiveQueueSize(2048);
  EXPECT_EQ(base.ReceiveQueueSize(), 2048);
  EXPECT_EQ(base.RequestedOutputQueue(), 0);
  base.FetchLineState();
  EXPECT_EQ(base.LineState().XonLim, 512);  // applied
  base.ClosePort();

  TVantrelSerial link;
  link.OpenPort(pty.Path);
  link.ConfigureLine(9600, 8, "N", 0, false, false);
  link.SetReceiveQueueSize(2048);
  EXPECT_EQ(link.ReceiveQueueSize(), 2048);
  EXPECT_EQ(link.RequestedInputQueue(), 2048);
  EXPECT_EQ(link.RequestedOutputQueue(), 2048);
  EXPECT_EQ(link.LineState().XonLim, 0);
  EXPECT_EQ(link.LineState().XoffLim, 0);
  link.FetchLineState();
  EXPECT_EQ(link.LineState().XonLim, 1024);  // the port keeps its limits until applied
  link.ConfigureLine(9600, 8, "N", 0, false, false);
  EXPECT_EQ(link.LineState().XonLim, 512);  // recomputed from the new size
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
  TPtyPair pty;
  TTracing port;
  port.OpenPort(pty.Path);
  port.WriteText("");
  EXPECT_EQ(port.Trace, "FWF");
  port.Trace.clear();
  port.WriteText("AB");
  EXPECT_EQ(port.Trace, "FWF");
  EXPECT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  char got[2] = {};
  pollfd p{pty.Master, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  EXPECT_EQ(read(pty.Master, got, 2), 2);
  EXPECT_EQ(std::string(got, 2), "AB");
}

TEST(SerialRead, QueuedBytesComeInOneCallUnchanged) {
  TPtyPair pty;
  TVantrelSerial port;
  port.OpenPort(pty.Path);
  port.ConfigureLine(115200, 8, "N", 0, false, false);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();

  std::string burst;
  for (int i = 0; i < 300; ++i)
    burst += static_cast<char>(i & 0xFF);  // zeros, CR, XON/XOFF, ^C included
  ASSERT_TRUE(pty.Send(burst));
  ASSERT_TRUE(pty.WaitQueued(300));
  const auto t0 = Clock::now();
  const ByteString got = port.ReadAvailable(5000);
  EXPECT_LT(MillisSince(t0), 100);
  EXPECT_EQ(got, burst);
  EXPECT_EQ(port.LastErrorCode(), 0);

  // Bytes that arrive during the wait end it.
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty.Send(std::string("\x61\x00\x05", 3));
  });
  const auto t1 = Clock::now();
  const ByteString later = port.ReadAvailable(5000);
  late.join();
  EXPECT_LT(MillisSince(t1), 1000);
  EXPECT_EQ(later, std::string("\x61\x00\x05", 3));
}

TEST(SerialRead, SilentLineTimesOutAndClosedPortFailsAtOnce) {
  TPtyPair pty;
  TStatusLog log;
  TVantrelSerial port;
  port.OpenPort(pty.Path);
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
  EXPECT_EQ(TBlockSerial::GetErrorDesc(EACCES), "Permission denied");
  EXPECT_EQ(TBlockSerial::GetErrorDesc(12345), "") << "no system text, no invented one";
  EXPECT_EQ(TBlockSerial::GetErrorDesc(-7), "");
  TBlockSerial port;
  EXPECT_EQ(port.LastErrorText(), "OK");
  port.DecodeLineErrors(kCeFrame);
  EXPECT_EQ(port.LastErrorCode(), ErrorFraming);
  port.DecodeLineErrors(kCeFrame | kCeRxParity | kCeOverrun);
  EXPECT_EQ(port.LastErrorCode(), ErrorParity);  // the last tested flag wins
  port.DecodeLineErrors(kCeFrame | kCeTxFull);
  EXPECT_EQ(port.LastErrorCode(), ErrorTransmitFull);

  EXPECT_EQ(TickDifference(0xFFFFFFF0u, 16u), 32u);
  EXPECT_EQ(TickDifference(100u, 40u), 60u);
  EXPECT_EQ(TickDifference(40u, 100u), 60u);
  EXPECT_EQ(TickDifference(7u, 7u), 0u);
}

}  // namespace
