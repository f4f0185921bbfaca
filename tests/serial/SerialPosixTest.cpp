// Port class cases that only POSIX ttys show: device names, the errors of
// unusable paths, exclusive use, and settings read back from the tty itself.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "serial/vVantrelSer.h"
#include "support/PortPair.h"
#include "support/SerialStatusLog.h"

namespace {

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

TEST(SerialOpen, AnotherObjectOrOpenerIsRefusedWithoutDisturbingTheOpenPort) {
  TPortPair pty;
  ASSERT_FALSE(pty.Path.empty());
  TVantrelSerial port;
  port.OpenPort(pty.Path);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  EXPECT_EQ(port.PortNumber(), -1);
  port.ConfigureLine(19200, 8, "N", 0, false, false);
  ASSERT_EQ(port.LastErrorCode(), 0);

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
  TPortPair pty;
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

TEST(SerialLine, AppliedSettingsReachTheTtyAndReadBack) {
  TPortPair pty;
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

  // A refused value leaves the line as it was (a zero rate would hang it up).
  port.ConfigureLine(9600, 8, "N", 0, false, false);
  port.ConfigureLine(0, 8, "N", 0, false, false);
  EXPECT_EQ(port.LastErrorCode(), EINVAL);
  t = pty.Settings();
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
}

TEST(SerialLine, QueueLimitsReachTheTtyOnlyWhenApplied) {
  TPortPair pty;
  TBlockSerial base;
  base.OpenPort(pty.Path);
  base.ConfigureLine(9600, 8, "N", 0, false, false);
  base.SetReceiveQueueSize(2048);
  base.FetchLineState();
  EXPECT_EQ(base.LineState().XonLim, 512);  // applied
  base.ClosePort();

  TVantrelSerial link;
  link.OpenPort(pty.Path);
  link.ConfigureLine(9600, 8, "N", 0, false, false);
  link.SetReceiveQueueSize(2048);
  link.FetchLineState();
  EXPECT_EQ(link.LineState().XonLim, 1024);  // the port keeps its limits until applied
}

TEST(SerialErrors, SystemTextsAreTheSystemsOwn) {
  EXPECT_EQ(TBlockSerial::GetErrorDesc(EACCES), "Permission denied");
  EXPECT_EQ(TBlockSerial::GetErrorDesc(ENOENT), "No such file or directory");
  EXPECT_EQ(TBlockSerial::GetErrorDesc(EBADF), "Bad file descriptor");
  EXPECT_EQ(TBlockSerial::GetErrorDesc(12345), "") << "no system text, no invented one";
  EXPECT_EQ(TBlockSerial::GetErrorDesc(-7), "");
}

}  // namespace
