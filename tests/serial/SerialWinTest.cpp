// Port class and port list cases that only Windows shows: COM device paths,
// the system's errors for unusable names, exclusive use, the line state read
// back from the driver, and the registry's serial device map.
//
// Under wine a COM port is a pseudo-terminal, which cannot show everything a
// real port does; the cases say where, and check what wine can.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "serial/SerialPorts.h"
#include "serial/vVantrelSer.h"
#include "support/PortPair.h"
#include "support/SerialStatusLog.h"

namespace {

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The line state the driver holds for a port, read through a plain handle.
bool DriverState(const std::string& name, DCB& dcb) {
  const std::string path = "\\\\.\\" + name;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  dcb = DCB{};
  dcb.DCBlength = sizeof dcb;
  const bool ok = GetCommState(h, &dcb);
  CloseHandle(h);
  return ok;
}

TEST(SerialNaming, ComNamesOpenAsWin32DevicePaths) {
  struct TCase {
    const char* Name;
    const char* Path;
    int Number;
  };
  // Whether these ports exist or not, the device path and number are fixed
  // before the open.
  for (const TCase& c : {TCase{"COM3", "\\\\.\\COM3", 2}, TCase{"com12", "\\\\.\\COM12", 11},
                         TCase{"/dev/ttyS0", "\\\\.\\COM1", 0}, TCase{"COM0", "COM0", -1},
                         TCase{"COM$A", "\\\\.\\COM10", 9}, TCase{"/dev/ttyS", "\\\\.\\COM-1", -2},
                         TCase{"COMx", "COMx", -1}, TCase{"\\\\.\\COM7", "\\\\.\\COM7", -1}}) {
    TVantrelSerial port;
    port.OpenPort(c.Name);
    EXPECT_EQ(port.DevicePath(), c.Path) << c.Name;
    if (!port.Active()) {
      EXPECT_EQ(port.PortNumber(), c.Number) << c.Name;
    }
    port.ClosePort();
    EXPECT_EQ(port.PortNumber(), -1);
  }
}

TEST(SerialOpen, UnusableNamesLeaveTheSystemsErrorAndNoStatus) {
  char folder[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
  const std::string file = std::string(folder) + "vantrel-serial-plain.txt";
  std::ofstream(file) << "not a port";

  struct TCase {
    std::string Name;
    int Code;  // 0: any error
  };
  const std::vector<TCase> cases = {
      {"COM199", ERROR_FILE_NOT_FOUND},
      {"", 0},
      {file, 0},  // opens, but has no line state
      {std::string("COM1\0x", 6), ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    TStatusLog log;
    TVantrelSerial port;
    log.Attach(port);
    port.OpenPort(c.Name);
    if (c.Code != 0) {
      EXPECT_EQ(port.LastErrorCode(), c.Code) << c.Name;
    } else {
      EXPECT_NE(port.LastErrorCode(), 0) << c.Name;
    }
    EXPECT_EQ(port.LastErrorText(), TBlockSerial::GetErrorDesc(port.LastErrorCode()));
    EXPECT_FALSE(port.LastErrorText().empty()) << c.Name;
    EXPECT_FALSE(port.Active());
    EXPECT_LT(port.Handle(), 0);
    EXPECT_FALSE(log.Has(ReasonOpened));
    EXPECT_TRUE(port.ReadAvailable(1000).empty());
    EXPECT_EQ(port.LastErrorCode(), ErrorNotOpen);
  }
  // The file was let go: opened without sharing, it could not be deleted.
  EXPECT_TRUE(DeleteFileA(file.c_str())) << GetLastError();
}

TEST(SerialOpen, AnotherObjectIsRefusedButWineSharesAPseudoTerminal) {
  TPortPair pair;
  ASSERT_FALSE(pair.Path.empty()) << pair.Problem;
  TVantrelSerial port;
  port.OpenPort(pair.Path);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  port.ConfigureLine(19200, 8, "N", 0, false, false);

  TVantrelSerial other;
  other.OpenPort(pair.Path);
  if (RunningUnderWine()) {
    // Wine opens a pseudo-terminal a second time; Windows refuses.
    EXPECT_EQ(other.LastErrorCode(), 0) << other.LastErrorText();
  } else {
    EXPECT_EQ(other.LastErrorCode(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(other.Active());
  }
  other.ClosePort();

  ASSERT_TRUE(pair.Send("still here"));
  EXPECT_EQ(port.ReadAvailable(2000), "still here");
}

TEST(SerialLine, LineStateReadsBackFromTheDriverAndIsRestoredAtClose) {
  TPortPair pair;
  ASSERT_FALSE(pair.Path.empty()) << pair.Problem;
  DCB before{};
  ASSERT_TRUE(DriverState(pair.Path, before));

  TVantrelSerial port;
  port.OpenPort(pair.Path);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  const uint32_t otherRate = before.BaudRate == 2400 ? 4800 : 2400;
  port.ConfigureLine(static_cast<int>(otherRate), 8, "N", 2, true, true);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  port.FetchLineState();
  const TLineState& s = port.LineState();
  EXPECT_EQ(s.BaudRate, otherRate);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.StopBits, 2);
  EXPECT_TRUE(s.Flags & kDcbOutX);
  EXPECT_TRUE(s.Flags & kDcbInX);
  EXPECT_TRUE(s.Flags & kDcbOutxCtsFlow);

  port.ConfigureLine(9600, 7, "E", 0, false, false);
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  port.FetchLineState();
  if (!RunningUnderWine()) {
    // A pseudo-terminal always carries eight bits without parity, so wine
    // reads back 8N whatever was set.
    EXPECT_EQ(port.LineState().ByteSize, 7);
    EXPECT_EQ(port.LineState().Parity, EVENPARITY);
  }
  EXPECT_EQ(port.LineState().BaudRate, 9600u);

  port.ClosePort();
  DCB after{};
  ASSERT_TRUE(DriverState(pair.Path, after));
  EXPECT_EQ(after.BaudRate, before.BaudRate);
  EXPECT_EQ(after.StopBits, before.StopBits);
  EXPECT_EQ(after.fOutX, before.fOutX);
}

// A key of our own under HKEY_LOCAL_MACHINE, removed again at the end.
class SerialPortRegistry : public ::testing::Test {
protected:
  static constexpr const wchar_t* kKey = L"Software\\vVantrelBusTest\\SERIALCOMM";
  void SetUp() override {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\vVantrelBusTest");
    const LSTATUS r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, &FKey, nullptr);
    if (r == ERROR_ACCESS_DENIED) GTEST_SKIP() << "HKEY_LOCAL_MACHINE needs an administrator";
    ASSERT_EQ(r, ERROR_SUCCESS);
  }
  void TearDown() override {
    if (FKey) RegCloseKey(FKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\vVantrelBusTest");
  }
  void Add(const wchar_t* name, const std::wstring& data) {
    ASSERT_EQ(RegSetValueExW(FKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  HKEY FKey = nullptr;
};

TEST_F(SerialPortRegistry, PortNamesInRegistryOrderQuotedWhereNeeded) {
  // Value names whose insertion order is also their sorted order: Windows
  // enumerates in the one, wine in the other.  The port names themselves
  // stay unsorted.
  const std::string key = "Software\\vVantrelBusTest\\SERIALCOMM";
  EXPECT_EQ(ListSerialPorts(key), "");
  Add(L"\\Device\\A0", L"COM3");
  Add(L"\\Device\\A1", L"COM1");
  EXPECT_EQ(ListSerialPorts(key), "COM3,COM1");
  Add(L"\\Device\\A2", L"My Port");
  Add(L"\\Device\\A3", L"");
  Add(L"\\Device\\A4", L"Port \u010d\u00ed");  // UTF-8 in the result
  EXPECT_EQ(ListSerialPorts(key), "COM3,COM1,\"My Port\",,\"Port \xc4\x8d\xc3\xad\"");
  EXPECT_EQ(ListSerialPorts("Software\\vVantrelBusTest\\NoSuchKey"), "");
}

TEST_F(SerialPortRegistry, ValueThatIsNoStringIsARegistryError) {
  Add(L"\\Device\\Serial0", L"COM1");
  const DWORD number = 4;
  ASSERT_EQ(RegSetValueExW(FKey, L"\\Device\\Number", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&number), sizeof number),
            ERROR_SUCCESS);
  try {
    ListSerialPorts("Software\\vVantrelBusTest\\SERIALCOMM");
    FAIL() << "no error";
  } catch (const ERegistryError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for '\\Device\\Number'");
  }
}

TEST(SerialPorts, DeclaredPortsAreInTheSystemsList) {
  const char* port = std::getenv("VANTREL_TEST_PORT");
  const char* peer = std::getenv("VANTREL_TEST_PEER");
  ASSERT_TRUE(port && peer) << "VANTREL_TEST_PORT and VANTREL_TEST_PEER are not set";
  const std::string list = "," + ListSerialPorts() + ",";
  EXPECT_NE(list.find("," + std::string(port) + ","), std::string::npos) << list;
  EXPECT_NE(list.find("," + std::string(peer) + ","), std::string::npos) << list;
}

}  // namespace
