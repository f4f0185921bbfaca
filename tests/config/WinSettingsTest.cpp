// The settings file on Windows: where it lives (beside the .exe or in
// %APPDATA%), and saving and loading through the system's own file calls
// with UTF-8 names.
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/IniFile.h"
#include "config/Settings.h"

namespace fs = std::filesystem;

namespace {

std::string Utf8(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A scratch folder, and environment variables put back afterwards.
class SettingsWin : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("vantrel-settings-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    for (const wchar_t* name :
         {L"APPDATA", L"LOCALAPPDATA", L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"}) {
      const wchar_t* v = _wgetenv(name);
      Saved.emplace_back(name, v ? v : L"");
    }
    SetSettingsFileName("");
  }
  void TearDown() override {
    for (const auto& [name, value] : Saved) _wputenv_s(name.c_str(), value.c_str());
    SetSettingsFileName("");
    fs::remove_all(Dir);
  }
  // Only these folders count as the system's program folders.
  void ProgramFolders(const fs::path& folder) {
    _wputenv_s(L"LOCALAPPDATA", (Dir / "Local").c_str());
    _wputenv_s(L"ProgramFiles", folder.c_str());
    _wputenv_s(L"ProgramFiles(x86)", folder.c_str());
    _wputenv_s(L"ProgramW6432", folder.c_str());
  }
  fs::path Dir;
  std::vector<std::pair<std::wstring, std::wstring>> Saved;
};

TEST_F(SettingsWin, BesideAWritableFolderOtherwiseInAppData) {
  const fs::path appData = Dir / "Roaming";
  _wputenv_s(L"APPDATA", appData.c_str());
  ProgramFolders(Dir / "Programs");
  fs::create_directories(Dir / "copy");
  fs::create_directories(Dir / "Programs" / "vVantrelBus");

  EXPECT_EQ(DefaultSettingsFileName(Utf8(Dir / "copy" / "vVantrelBus.exe")),
            Utf8(Dir / "copy" / "vVantrelBus.ini"));
  EXPECT_EQ(DefaultSettingsFileName(Utf8(Dir / "copy.d" / "prog")),
            Utf8(appData / "vVantrelBus" / "prog.ini"));  // no such folder: not writable
  // An installed copy keeps its settings per user even where it could write.
  EXPECT_EQ(DefaultSettingsFileName(Utf8(Dir / "Programs" / "vVantrelBus" / "vVantrelBus.exe")),
            Utf8(appData / "vVantrelBus" / "vVantrelBus.ini"));
  // So does a copy installed per user, without administrator rights, but
  // not one elsewhere in that user's local folder.
  fs::create_directories(Dir / "Local" / "Programs" / "vVantrelBus");
  fs::create_directories(Dir / "Local" / "Portable");
  EXPECT_EQ(
      DefaultSettingsFileName(Utf8(Dir / "Local" / "Programs" / "vVantrelBus" / "vVantrelBus.exe")),
      Utf8(appData / "vVantrelBus" / "vVantrelBus.ini"));
  EXPECT_EQ(DefaultSettingsFileName(Utf8(Dir / "Local" / "Portable" / "vVantrelBus.exe")),
            Utf8(Dir / "Local" / "Portable" / "vVantrelBus.ini"));
  // No usable %APPDATA%: beside the program, where saving reports the error.
  _wputenv_s(L"APPDATA", L"relative\\path");
  EXPECT_EQ(DefaultSettingsFileName(Utf8(Dir / "Programs" / "vVantrelBus" / "vVantrelBus.exe")),
            Utf8(Dir / "Programs" / "vVantrelBus" / "vVantrelBus.ini"));
}

TEST_F(SettingsWin, FirstSaveCreatesTheUserFolderAndTheDumpFindsTheWindowsFile) {
  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const fs::path exe = self;
  // The test program's own folder taken for an installed one.
  ProgramFolders(exe.parent_path());
  const fs::path appData = Dir / u8"Jiří" / "Roaming";
  _wputenv_s(L"APPDATA", appData.c_str());

  const fs::path expected = appData / "vVantrelBus" / (exe.stem().string() + ".ini");
  EXPECT_EQ(SettingsFileName(), Utf8(expected));
  LoadSettings();
  Settings.Port = "COM7";
  SaveSettings();
  ASSERT_TRUE(fs::exists(expected));
  EXPECT_NE(ReadAll(expected).find("Port=COM7\n"), std::string::npos);
  EXPECT_EQ(SiblingSettingsFileName("vVantrelBus"),
            Utf8(appData / "vVantrelBus" / "vVantrelBus.ini"));
}

TEST_F(SettingsWin, SavesReplaceTheFileAndLoadBack) {
  const fs::path file = Dir / u8"Nastavení" / "my.ini";
  fs::create_directories(file.parent_path());
  // Hand-made CRLF file with a time-out of its own.
  std::ofstream(file, std::ios::binary) << "[Comm]\r\nRecvTimeout=2000\r\nBaud=$2580\r\n";
  SetSettingsFileName(Utf8(file));
  LoadSettings();
  EXPECT_EQ(Settings.Baud, 9600);
  EXPECT_EQ(Settings.RecvTimeout, 2000);
  Settings.Port = "COM12";
  Settings.SoftFlow = true;
  SaveSettings();
  Settings.Port = "COM3";
  SaveSettings();  // over the existing file
  EXPECT_EQ(ReadAll(file),
            "[Comm]\r\nRecvTimeout=2000\r\nBaud=9600\r\nPort=COM3\r\nParity=0\r\nBits=8\r\n"
            "StopBit=0\r\nSoftFlow=1\r\nHardFlow=0\r\n[Central]\r\nAppID=1\r\nMaxLoko=16\r\n"
            "[Monitor]\r\nReconnect=1\r\n");
  Settings = TSettings{};
  LoadSettings();
  EXPECT_EQ(Settings.Port, "COM3");
  EXPECT_TRUE(Settings.SoftFlow);
  EXPECT_EQ(Settings.RecvTimeout, 2000);
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1)
      << "a temporary file was left";
}

TEST_F(SettingsWin, ReadOnlyFileIsReportedAndKept) {
  const fs::path file = Dir / "ro.ini";
  std::ofstream(file, std::ios::binary) << "[Comm]\nPort=COM2\n";
  ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  SetSettingsFileName(Utf8(file));
  LoadSettings();
  Settings.Port = "COM5";
  try {
    SaveSettings();
    ADD_FAILURE() << "no error";
  } catch (const EIniWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + Utf8(file));
    EXPECT_EQ(e.ErrorNumber(), kIniFileReadOnly);
  }
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadAll(file), "[Comm]\nPort=COM2\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);
}

}  // namespace
