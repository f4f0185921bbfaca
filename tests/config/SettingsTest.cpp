#include "../support/ChildProcess.h"
#include "config/IniFile.h"
#include "config/Settings.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class SettingsFile : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vt-settings-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    Dir = tmpl;
    File = Dir + "/vt.ini";
    SetSettingsFileName(File);
  }
  void TearDown() override {
    SetSettingsFileName("");
    ::chmod(Dir.c_str(), 0700);
    fs::remove_all(Dir);
  }
  void Put(const std::string& text) const { std::ofstream(File, std::ios::binary) << text; }
  std::string Get() const {
    std::ifstream in(File, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  size_t EntriesInDir() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(Dir), {}));
  }

  std::string Dir, File;
};

// A literal with its NUL bytes.
template <size_t N>
std::string WithNuls(const char (&text)[N]) {
  return std::string(text, N - 1);
}

const char* const FreshFile =
    "[Comm]\nPort=COM1\nBaud=9600\nParity=0\nBits=8\nStopBit=0\nSoftFlow=0\nHardFlow=0\n"
    "[Central]\nAppID=1\nMaxLoko=16\n[Monitor]\nReconnect=1\n";

TEST_F(SettingsFile, NoFileGivesDefaultsAndCreatesNothing) {
  Settings = TSettings{"X", 1, 2, 3, 4, true, true, 5, 6, 7, 8, 9};
  LoadSettings();
  EXPECT_EQ(SettingsToText(Settings),
            "Port=COM1\nBaud=9600\nParity=0\nBits=8\nStopBit=0\nSoftFlow=0\nHardFlow=0\n"
            "SleepTimeout=10\nRecvTimeout=500\nWaitTimeout=50\nAppID=1\nMaxLoko=16\n");
  EXPECT_EQ(EntriesInDir(), 0u);

  SaveSettings();
  EXPECT_EQ(Get(), FreshFile);
  EXPECT_EQ(EntriesInDir(), 1u) << "no temporary file may stay behind";
}

TEST_F(SettingsFile, ValueForms) {
  Put("[Comm]\nPort=  \"COM5\"  \nBaud=0x2580\nParity=7\nBits=7 bits\nStopBit=$2\n"
      "SoftFlow=5\nHardFlow=yes\nSleepTimeout=-3\nRecvTimeout=99999999999\nWaitTimeout=x10\n"
      "[Central]\nAppID=$FFFFFFFF\nMaxLoko=\n");
  LoadSettings();
  EXPECT_EQ(Settings.Port, "COM5");
  EXPECT_EQ(Settings.Baud, 9600);
  EXPECT_EQ(Settings.Parity, 7);
  EXPECT_EQ(ParityLetter(Settings.Parity), "N");
  EXPECT_EQ(Settings.Bits, 8) << "trailing text makes the value invalid";
  EXPECT_EQ(Settings.StopBit, 2);
  EXPECT_TRUE(Settings.SoftFlow);
  EXPECT_FALSE(Settings.HardFlow);
  EXPECT_EQ(Settings.SleepTimeout, -3);
  EXPECT_EQ(Settings.RecvTimeout, 500) << "beyond 32 bits gives the default";
  EXPECT_EQ(Settings.WaitTimeout, 16);
  EXPECT_EQ(Settings.AppID, -1);
  EXPECT_EQ(Settings.MaxLoko, 16);

  Put("[Comm]\nBaud=$2580 \n");
  LoadSettings();
  EXPECT_EQ(Settings.Baud, 9600);
  Put("[Comm]\nBaud=19200 baud\n");
  LoadSettings();
  EXPECT_EQ(Settings.Baud, 9600);
}

TEST_F(SettingsFile, SaveKeepsForeignLinesAndRewritesOwnKeys) {
  Put("; hand-made\n[other]\nx=1\n\n[COMM]\nPORT = COM9\nRecvTimeout=2000\nsoftflow=5\n\n"
      "[central]\nmaxloko=20\n");
  LoadSettings();
  EXPECT_EQ(Settings.Port, "COM9");
  EXPECT_EQ(Settings.RecvTimeout, 2000);
  EXPECT_TRUE(Settings.SoftFlow);
  EXPECT_EQ(Settings.MaxLoko, 20);

  SaveSettings();
  SaveSettings();
  EXPECT_EQ(Get(),
            "; hand-made\n[other]\nx=1\n\n[COMM]\nPORT=COM9\nRecvTimeout=2000\nsoftflow=1\n"
            "Baud=9600\nParity=0\nBits=8\nStopBit=0\nHardFlow=0\n\n"
            "[central]\nmaxloko=20\nAppID=1\n[Monitor]\nReconnect=1\n");
  LoadSettings();
  EXPECT_EQ(Settings.RecvTimeout, 2000);

  // The window's own section: read, and written with the rest in one save.
  Put("[Monitor]\nLeft=5\nReconnect=0\n");
  LoadSettings();
  EXPECT_FALSE(Settings.Reconnect);
  Settings.Reconnect = true;
  SaveSettings();
  EXPECT_EQ(Get().rfind("[Monitor]\nLeft=5\nReconnect=1\n[Comm]\n", 0), 0u) << Get();
}

TEST_F(SettingsFile, PortIsCutAt2047Characters) {
  Put("[Comm]\nPort=" + std::string(3000, 'p') + "\n");
  LoadSettings();
  EXPECT_EQ(Settings.Port, std::string(2047, 'p'));
}

TEST_F(SettingsFile, CrLfModeSymlinkAndPermissionsSurviveSaves) {
  std::string real = Dir + "/real.ini";
  std::ofstream(real, std::ios::binary) << "[Comm]\r\nPort=COM2\r\n";
  ::chmod(real.c_str(), 0640);
  ASSERT_EQ(::symlink("real.ini", File.c_str()), 0);
  LoadSettings();
  SaveSettings();
  EXPECT_TRUE(fs::is_symlink(File));
  struct stat st;
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  std::string text = Get();
  EXPECT_EQ(text.rfind("[Comm]\r\nPort=COM2\r\nBaud=9600\r\n", 0), 0u) << text;
  EXPECT_EQ(text.substr(text.size() - 36), "MaxLoko=16\r\n[Monitor]\r\nReconnect=1\r\n");
}

TEST_F(SettingsFile, FailedWriteNamesTheFileAndLeavesItAsItWas) {
  const std::string old = "[Comm]\nRecvTimeout=2000\n";
  Put(old);
  LoadSettings();
  Settings.Port = "COM3";
  Settings.Baud = 19200;
  Settings.Parity = 2;
  // Room for the first two keys only, as on a nearly full disk: the save is
  // one replacement, so not even those reach the file.
  const rlim_t limit = std::string(old + "Port=COM3\nBaud=19200\n").size();
  struct rlimit before;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit lim = before;
  lim.rlim_cur = limit;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lim), 0);
  std::string message;
  int err = 0;
  try {
    SaveSettings();
  } catch (const EIniWriteError& e) {
    message = e.what();
    err = e.ErrorNumber();
  }
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(message, "Unable to write to " + File);
  EXPECT_EQ(err, EFBIG);
  EXPECT_EQ(Get(), old);
  EXPECT_EQ(EntriesInDir(), 1u) << "no temporary file may stay behind";
  EXPECT_EQ(Settings.Parity, 2) << "the record keeps the new values";
}

TEST_F(SettingsFile, ReadOnlyFolderReportsTheFile) {
  Put("[Comm]\nPort=COM4\n");
  ::chmod(Dir.c_str(), 0555);
  auto attempt = [this]() -> int {
    LoadSettings();
    try {
      SaveSettings();
      return 1;
    } catch (const std::runtime_error& e) {
      return std::string(e.what()) == "Unable to write to " + File ? 0 : 2;
    }
  };
  int result;
  if (::geteuid() != 0) {
    result = attempt();
  } else {
    // Folder permissions do not bind root: try as an unprivileged user.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
      ::_exit(attempt());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    result = WEXITSTATUS(status);
  }
  EXPECT_EQ(result, 0) << "1: no error, 2: wrong message, 3: could not drop rights";
  EXPECT_EQ(Get(), "[Comm]\nPort=COM4\n");
  EXPECT_EQ(EntriesInDir(), 1u);
}

TEST_F(SettingsFile, UnreadableFileIsNotReplaced) {
  fs::create_directory(File);  // exists, but reading it fails
  LoadSettings();
  EXPECT_EQ(Settings.Port, "COM1");
  EXPECT_THROW(SaveSettings(), EIniWriteError);
  EXPECT_TRUE(fs::is_directory(File));
}

TEST_F(SettingsFile, ReadOnlyFileIsNotReplacedThroughItsFolder) {
  Put("[Comm]\nPort=COM4\n");
  ::chmod(File.c_str(), 0444);
  ::chmod(Dir.c_str(), 0777);  // the folder itself is writable for everyone
  const std::string got = test_support::RunUnprivileged([] {
    LoadSettings();
    Settings.Port = "COM9";
    try {
      SaveSettings();
      return std::string("saved");
    } catch (const EIniWriteError& e) {
      return std::string(e.what()) + " / " + std::to_string(e.ErrorNumber());
    }
  });
  EXPECT_EQ(got, "Unable to write to " + File + " / " + std::to_string(kIniFileReadOnly));
  EXPECT_EQ(Get(), "[Comm]\nPort=COM4\n");
  struct stat st {};
  ASSERT_EQ(::stat(File.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, ::geteuid()) << "the file still belongs to its owner";
  EXPECT_EQ(EntriesInDir(), 1u);
}

TEST_F(SettingsFile, ByteOrderMarkIsReadPastAndKept) {
  Put("\xEF\xBB\xBF[Comm]\nPort=COM5\nBaud=19200\n");
  LoadSettings();
  EXPECT_EQ(Settings.Port, "COM5");
  EXPECT_EQ(Settings.Baud, 19200);
  SaveSettings();
  const std::string text = Get();
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF[Comm]\nPort=COM5\nBaud=19200\n", 0), 0u) << text;
  EXPECT_EQ(text.find("[Comm]"), text.rfind("[Comm]")) << "one [Comm] section only";
}

// The same files read through the platform's profile routines gave these.
TEST_F(SettingsFile, FileIsReadAsThePlatformsProfileRoutinesReadIt) {
  auto utf16 = [](std::string_view ascii, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
  };
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "UTF-16 BE" : "UTF-16 LE");
    Put(utf16("; pozn\r\n[Comm]\r\nPort=COM7\r\nBaud=19200\r\n", bigEndian));
    LoadSettings();
    EXPECT_EQ(Settings.Port, "COM7");
    EXPECT_EQ(Settings.Baud, 19200);
    Settings.Port = "COM8";
    SaveSettings();
    const std::string text = Get();
    EXPECT_EQ(text.rfind(utf16("; pozn\r\n[Comm]\r\nPort=COM8\r\nBaud=19200\r\n", bigEndian), 0),
              0u)
        << "saved as UTF-16 still";
    LoadSettings();
    EXPECT_EQ(Settings.Port, "COM8");
    EXPECT_EQ(Settings.MaxLoko, 16);
  }
  // A character beyond the first plane and one in it survive a save.
  const std::string comment = WithNuls("\xFF\xFE;\0 \0\x0D\x01\x3D\xD8\x02\xDE\n\0");
  Put(comment + WithNuls("[\0C\0o\0m\0m\0]\0\n\0"));
  LoadSettings();
  SaveSettings();
  EXPECT_EQ(Get().rfind(comment + WithNuls("[\0C\0o\0m\0m\0]\0\n\0P\0"), 0), 0u);

  Put("[Comm]\rPort=COM3\rBaud=4800\r");  // lone CRs
  LoadSettings();
  EXPECT_EQ(Settings.Port, "COM3");
  EXPECT_EQ(Settings.Baud, 4800);
  SaveSettings();
  EXPECT_EQ(Get().rfind("[Comm]\rPort=COM3\rBaud=4800\rParity=0\r", 0), 0u) << Get();

  // "[Central" is no header: Baud stays in [Comm].
  Put("[Comm]\nPort=COM2\n[Central\nBaud=1200\n[Central]\nMaxLoko=20\n");
  LoadSettings();
  EXPECT_EQ(Settings.Baud, 1200);
  EXPECT_EQ(Settings.MaxLoko, 20);

  Put(WithNuls("[Comm]\nPort=COM9\0junk\nBaud=4800 \0 x\n"));
  LoadSettings();
  EXPECT_EQ(Settings.Port, "COM9");
  EXPECT_EQ(Settings.Baud, 4800);
}

TEST_F(SettingsFile, DevicesFifosAndHugeFilesAreRefusedUnreadAndNeverWritten) {
  const std::string fifo = Dir + "/fifo.ini", huge = Dir + "/huge.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(huge) << "[Comm]\nPort=COM7\n";
  fs::resize_file(huge, kIniMaxFileSize + 1);
  for (const auto& [path, error] : {std::pair{fifo, kIniNotRegularFile},
                                    std::pair{std::string("/dev/zero"), kIniNotRegularFile},
                                    std::pair{huge, kIniFileTooLarge}}) {
    SetSettingsFileName(path);
    EXPECT_EQ(LoadSettings(), error) << path;  // a FIFO without writer would hang here
    EXPECT_EQ(Settings.Port, "COM1") << "defaults";
    if (path == "/dev/zero") continue;  // a fault here would replace the system's device
    EXPECT_THROW(SaveSettings(), EIniWriteError) << path;
  }
  // The null device is the usual "no settings": read as empty, not refused.
  SetSettingsFileName("/dev/null");
  EXPECT_EQ(LoadSettings(), 0);
  EXPECT_EQ(Settings.Port, "COM1");
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(fs::file_size(huge), static_cast<uintmax_t>(kIniMaxFileSize + 1));
  EXPECT_EQ(EntriesInDir(), 2u);
}

TEST_F(SettingsFile, DanglingLinkIsWrittenThrough) {
  ASSERT_EQ(::symlink("sub/real.ini", File.c_str()), 0);
  fs::create_directory(Dir + "/sub");
  LoadSettings();
  SaveSettings();
  EXPECT_TRUE(fs::is_symlink(File));
  EXPECT_EQ(Get().rfind("[Comm]\nPort=COM1\n", 0), 0u);
  EXPECT_EQ(EntriesInDir(), 2u);
}

TEST_F(SettingsFile, TemporaryFilesOfKilledSavesAreRemovedByTheNextLoad) {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  const std::string stale = File + ".~" + std::to_string(gone) + ".0";
  const std::string running = File + ".~" + std::to_string(::getppid()) + ".0";
  for (const std::string& f : {stale, running, File + ".~backup"}) std::ofstream(f) << "x";
  LoadSettings();
  EXPECT_EQ(EntriesInDir(), 2u) << "only the dead process's file goes";
  EXPECT_FALSE(fs::exists(stale));
}

TEST(SettingsName, DefaultIsTheExecutableWithIni) {
  SetSettingsFileName("");
  std::string exe = fs::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(SettingsFileName(), exe + ".ini");  // the test program has no extension
  SetSettingsFileName("/x/y.conf");
  EXPECT_EQ(SettingsFileName(), "/x/y.conf");
  SetSettingsFileName("");
}

TEST(SettingsParity, Letters) {
  EXPECT_EQ(ParityLetter(0), "N");
  EXPECT_EQ(ParityLetter(1), "O");
  EXPECT_EQ(ParityLetter(2), "E");
  EXPECT_EQ(ParityLetter(3), "M");
  EXPECT_EQ(ParityLetter(4), "S");
  EXPECT_EQ(ParityLetter(5), "N");
  EXPECT_EQ(ParityLetter(-1), "N");
}

}  // namespace
