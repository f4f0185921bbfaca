// Port list from a fake sysfs tree, and the comma text it is returned in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "serial/SerialPorts.h"

namespace fs = std::filesystem;

namespace {

TEST(SerialPorts, CommaTextQuoting) {
  EXPECT_EQ(SerialCommaText({}), "");
  EXPECT_EQ(SerialCommaText({"COM1", "COM3"}), "COM1,COM3");
  EXPECT_EQ(SerialCommaText({"My Port", "a,b", "say \"hi\"", "tab\there", "ok"}),
            "\"My Port\",\"a,b\",\"say \"\"hi\"\"\",\"tab\there\",ok");
  EXPECT_EQ(SerialCommaText({"a", "", "b"}), "a,,b");
  EXPECT_EQ(SerialCommaText({""}), "\"\"");  // reads back as one empty item
  EXPECT_EQ(SerialCommaText({"/dev/ttyUSB0", "ž"}), "/dev/ttyUSB0,ž");
}

class SerialPortListFake : public ::testing::Test {
protected:
  void SetUp() override {
    Root = fs::temp_directory_path() / ("vantrel-sysfs-" + std::to_string(::getpid()));
    fs::remove_all(Root);
    fs::create_directories(Root / "class");
    fs::create_directories(Root / "bus/drivers/ftdi_sio");
    fs::create_directories(Root / "bus/drivers/serial8250");
    fs::create_directories(Root / "bus/serial-base/drivers/port");
    fs::create_directories(Root / "bus/serial-base/drivers/ctrl");
    fs::create_directories(Root / "bus/drivers/dw-apb-uart");
  }
  void TearDown() override { fs::remove_all(Root); }
  // A tty whose device is bound to driver (none: no device link at all);
  // uartType is the serial core's "type" attribute ("": none).
  void AddTty(const std::string& name, const std::string& driver,
              const std::string& uartType = "") {
    fs::create_directories(Root / "class" / name);
    if (!uartType.empty()) std::ofstream(Root / "class" / name / "type") << uartType << "\n";
    if (driver.empty()) return;
    fs::create_directories(Root / "devices" / name);
    fs::create_directory_symlink("../../bus/drivers/" + driver, Root / "devices" / name / "driver");
    fs::create_directory_symlink("../../devices/" + name, Root / "class" / name / "device");
  }
  // A serial-core port on the serial-base bus below a controller bound to
  // driver: device -> port (driver "port") -> ctrl ("ctrl") -> hardware.
  void AddSerialBaseTty(const std::string& name, const std::string& driver,
                        const std::string& uartType = "") {
    const fs::path hw = Root / "devices" / name;
    fs::create_directories(hw / "ctrl" / "port");
    fs::create_directory_symlink("../../bus/drivers/" + driver, hw / "driver");
    fs::create_directory_symlink("../../../bus/serial-base/drivers/ctrl", hw / "ctrl" / "driver");
    fs::create_directory_symlink("../../../../bus/serial-base/drivers/port",
                                 hw / "ctrl" / "port" / "driver");
    fs::create_directories(Root / "class" / name);
    if (!uartType.empty()) std::ofstream(Root / "class" / name / "type") << uartType << "\n";
    fs::create_directory_symlink("../../devices/" + name + "/ctrl/port",
                                 Root / "class" / name / "device");
  }
  fs::path Root;
};

// The 8250 ports are judged by their UART type in sysfs alone: the names
// below have no device node, so a port that had to be opened to be listed
// would be missing.
TEST_F(SerialPortListFake, ListsBoundPortsInDirectoryOrderAndDropsAbsentUarts) {
  AddTty("tty0", "");
  AddTty("ttyUSB0", "ftdi_sio");
  AddTty("ttyVantrelGhost8250", "serial8250", "0");  // the driver's port without a UART
  AddTty("ttyVantrelNoType8250", "serial8250");
  AddTty("ttyVantrelReal8250", "serial8250", "4");
  AddTty("ttyACM3", "ftdi_sio");
  AddSerialBaseTty("ttyVantrelGhostBase", "serial8250", "0");
  AddSerialBaseTty("ttyVantrelRealBase", "serial8250", "4");
  AddSerialBaseTty("ttyS4", "dw-apb-uart");
  AddTty("ptmx", "");

  std::string expected;
  for (const auto& e : fs::directory_iterator(Root / "class")) {  // the same readdir order
    const std::string name = e.path().filename().string();
    if (name != "ttyUSB0" && name != "ttyACM3" && name != "ttyS4" && name != "ttyVantrelReal8250" &&
        name != "ttyVantrelRealBase")
      continue;
    if (!expected.empty()) expected += ',';
    expected += "/dev/" + name;
  }
  EXPECT_EQ(ListSerialPorts((Root / "class").string(), (Root / "none").string()), expected);
}

TEST_F(SerialPortListFake, StableByIdNamesComeFirst) {
  AddTty("ttyUSB0", "ftdi_sio");
  fs::create_directories(Root / "by-id");
  fs::create_symlink("../../ttyUSB0", Root / "by-id" / "usb-Maker_USB_Serial_A1B2-if00-port0");
  const std::string byId = (Root / "by-id").string();
  EXPECT_EQ(ListSerialPorts((Root / "class").string(), byId),
            byId + "/usb-Maker_USB_Serial_A1B2-if00-port0,/dev/ttyUSB0");
}

TEST_F(SerialPortListFake, MissingOrEmptyTreeGivesEmptyText) {
  EXPECT_EQ(ListSerialPorts((Root / "class").string(), (Root / "none").string()), "");
  EXPECT_EQ(ListSerialPorts((Root / "nothing-here").string(), (Root / "none").string()), "");
}

}  // namespace
