// The traffic view's keys in [Monitor]: read back as written, written only
// when changed, and [Comm] and [Central] untouched.
#include "config/Settings.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class MonitorSettingsFile : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vt-monitor-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    Dir = tmpl;
    File = Dir + "/vt.ini";
    SetSettingsFileName(File);
    MonitorSettings = {};
  }
  void TearDown() override {
    SetSettingsFileName("");
    MonitorSettings = {};
    fs::remove_all(Dir);
  }
  std::string Get() const {
    std::ifstream in(File, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string Dir, File;
};

}  // namespace

TEST_F(MonitorSettingsFile, DefaultsCreateNoFileAndChangesGoToTheirOwnSection) {
  LoadSettings();
  EXPECT_EQ(MonitorSettings, TMonitorSettings{});
  SaveMonitorSettings();
  EXPECT_FALSE(fs::exists(File)) << "nothing changed, nothing written";

  std::ofstream(File) << "[Comm]\nPort=/dev/ttyUSB0\nBaud=115200\n; mine\n[Central]\nMaxLoko=20\n";
  MonitorSettings.View = "traffic";
  MonitorSettings.TimeMode = "z";
  MonitorSettings.Kinds = "power,status,device";
  MonitorSettings.Devices = "01,1F";
  MonitorSettings.Filter = "Loko #3";
  MonitorSettings.TrafficColumns = "100,30,200,150";
  MonitorSettings.RingSize = 20000;
  SaveMonitorSettings();
  EXPECT_EQ(Get(),
            "[Comm]\nPort=/dev/ttyUSB0\nBaud=115200\n; mine\n[Central]\nMaxLoko=20\n"
            "[Monitor]\nView=traffic\nTimeMode=z\nKinds=power,status,device\nDevices=01,1F\n"
            "Filter=Loko #3\nTrafficColumns=100,30,200,150\nRingSize=20000\n");

  const TMonitorSettings saved = MonitorSettings;
  MonitorSettings = {};
  LoadSettings();
  EXPECT_EQ(MonitorSettings, saved);
  EXPECT_EQ(Settings.Port, "/dev/ttyUSB0");
  EXPECT_EQ(Settings.MaxLoko, 20);

  // Back to a default value: written as such, the key stays.
  MonitorSettings.View = "grid";
  SaveMonitorSettings();
  LoadMonitorSettings();
  EXPECT_EQ(MonitorSettings.View, "grid");
  EXPECT_NE(Get().find("View=grid\n"), std::string::npos);
}

// Two windows on one file: each writes only the keys it changed, so the
// second to close keeps what the first saved meanwhile.
TEST_F(MonitorSettingsFile, EachWindowWritesOnlyTheKeysItChanged) {
  std::ofstream(File) << "[Comm]\nPort=/dev/ttyUSB0\n[Monitor]\nView=grid\n";
  LoadSettings();  // the second window starts
  // The first window, started earlier, saves its folder and view.
  std::ofstream(File) << "[Comm]\nPort=/dev/ttyUSB0\n[Monitor]\nView=log\nCaptureFolder=/data\n";
  MonitorSettings.Filter = "4A";  // all the second window changed
  SaveMonitorSettings();
  EXPECT_EQ(Get(),
            "[Comm]\nPort=/dev/ttyUSB0\n[Monitor]\nView=log\nCaptureFolder=/data\n"
            "Filter=4A\n");
  // What it saved counts as read: saving again writes nothing new.
  std::ofstream(File) << "[Monitor]\nFilter=other\n";
  SaveMonitorSettings();
  EXPECT_EQ(Get(), "[Monitor]\nFilter=other\n");
}
