// Where the settings file lives: beside the program when its folder is
// writable, else in the user's configuration folder.  Folder permissions do
// not bind root, so every case runs in a child that drops to an unprivileged
// user when the tests run as root.
#include "../support/ChildProcess.h"
#include "config/IniFile.h"
#include "config/Settings.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using test_support::RunInChild;
using test_support::RunUnprivileged;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Child mode for the end-to-end case: a copy of this test program, run from a
// read-only folder, loads, saves and loads again as the installed window
// would, and reports what it saw on standard output.  It runs as a test
// environment, once every global of the program has been constructed.
constexpr const char* ChildMarker = "--- child ---\n";

class TChildMode : public ::testing::Environment {
public:
  void SetUp() override {
    LoadSettings();
    std::printf("%sfile=%s\nport=%s\n", ChildMarker, SettingsFileName().c_str(),
                Settings.Port.c_str());
    Settings.Port = "/dev/ttyUSB7";
    try {
      SaveSettings();
      std::printf("saved\n");
    } catch (const EIniWriteError& e) {
      std::printf("error=%s errno=%d\n", e.what(), e.ErrorNumber());
    }
    LoadSettings();
    std::printf("port=%s\n", Settings.Port.c_str());
    std::fflush(stdout);
    std::_Exit(0);
  }
};

[[maybe_unused]] const bool ChildMode = std::getenv("VANTREL_SETTINGS_LOCATION_CHILD") &&
                                        ::testing::AddGlobalTestEnvironment(new TChildMode);

class SettingsLocation : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vt-location-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    Dir = tmpl;
    ::chmod(Dir.c_str(), 0777);  // the unprivileged child works in it
    Bin = Dir + "/bin";
    fs::create_directory(Bin);
    SetSettingsFileName("");
  }
  void TearDown() override {
    SetSettingsFileName("");
    ::chmod(Bin.c_str(), 0755);
    fs::remove_all(Dir);
  }
  // The folder of the program: writable for the child or not.
  void BinWritable(bool writable) const { ::chmod(Bin.c_str(), writable ? 0777 : 0555); }

  std::string Dir, Bin;
};

// Computes DefaultSettingsFileName() in the child with the given environment
// (nullptr unsets a variable).
std::string LocationWith(const std::string& exe, const char* xdg, const char* home) {
  return RunUnprivileged([&] {
    if (xdg)
      ::setenv("XDG_CONFIG_HOME", xdg, 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
    if (home)
      ::setenv("HOME", home, 1);
    else
      ::unsetenv("HOME");
    return DefaultSettingsFileName(exe);
  });
}

TEST_F(SettingsLocation, WritableFolderKeepsTheFileBesideTheProgram) {
  BinWritable(true);
  EXPECT_EQ(LocationWith(Bin + "/vVantrelBus", "/cfg", "/home/u"), Bin + "/vVantrelBus.ini");
  EXPECT_EQ(LocationWith(Bin + "/vVantrelBus.bin", "/cfg", "/home/u"), Bin + "/vVantrelBus.ini");
}

TEST_F(SettingsLocation, ReadOnlyFolderUsesTheUsersConfigFolder) {
  BinWritable(false);
  const std::string exe = Bin + "/vVantrelBus";
  EXPECT_EQ(LocationWith(exe, "/cfg", "/home/u"), "/cfg/vVantrelBus/vVantrelBus.ini");
  EXPECT_EQ(LocationWith(exe, "/cfg/", "/home/u"), "/cfg/vVantrelBus/vVantrelBus.ini");
  EXPECT_EQ(LocationWith(exe, nullptr, "/home/u"), "/home/u/.config/vVantrelBus/vVantrelBus.ini");
  EXPECT_EQ(LocationWith(exe, "", "/home/u"), "/home/u/.config/vVantrelBus/vVantrelBus.ini");
  EXPECT_EQ(LocationWith(exe, "rel/cfg", "/home/u"), "/home/u/.config/vVantrelBus/vVantrelBus.ini")
      << "a relative XDG_CONFIG_HOME is ignored";
  // Each program keeps its own file, named after it.
  EXPECT_EQ(LocationWith(Bin + "/vantrel-dump", "/cfg", "/home/u"),
            "/cfg/vVantrelBus/vantrel-dump.ini");
  EXPECT_EQ(LocationWith(Bin + "/tool.exe", "/cfg", "/home/u"), "/cfg/vVantrelBus/tool.ini");
  // A folder that does not exist cannot take the file either.
  EXPECT_EQ(LocationWith(Dir + "/gone/vVantrelBus", "/cfg", "/home/u"),
            "/cfg/vVantrelBus/vVantrelBus.ini");
}

TEST(SettingsSystemFolder, PackagedProgramsNeverKeepTheFileBesideThem) {
  // Root can write to /usr/bin; settings must still go to the user's folder.
  // Runs with the rights of the tests (root in the CI container).
  const std::string got = RunInChild(
      [] {
        ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
        std::string out;
        for (const char* exe :
             {"/usr/bin/vVantrelBus", "/usr/local/bin/vVantrelBus", "/bin/vVantrelBus"})
          out += DefaultSettingsFileName(exe) + "\n";
        return out;
      },
      false);
  EXPECT_EQ(got,
            "/cfg/vVantrelBus/vVantrelBus.ini\n/cfg/vVantrelBus/vVantrelBus.ini\n"
            "/cfg/vVantrelBus/vVantrelBus.ini\n");
}

TEST_F(SettingsLocation, NamedFileWinsAndGetsNoFolders) {
  const std::string named = Dir + "/missing/my.ini";
  SetSettingsFileName(named);
  EXPECT_EQ(SettingsFileName(), named);
  LoadSettings();
  EXPECT_THROW(SaveSettings(), EIniWriteError) << "only the per-user folder is created on saving";
  EXPECT_FALSE(fs::exists(Dir + "/missing"));
}

TEST(SettingsSibling, NamesTheOtherProgramsFileInTheSameFolder) {
  // The test program's folder (the build tree) is writable.
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(SiblingSettingsFileName("vVantrelBus"),
            self.substr(0, self.rfind('/')) + "/vVantrelBus.ini");
}

// A build tree: the window in src/app, the tools in tools.  The dump must
// read the file the window saves, not one of its own folder.
TEST_F(SettingsLocation, ToolsFindTheWindowInTheirBuildTreeOrBesideThem) {
  const std::string tree = Dir + "/build";
  fs::create_directories(tree + "/tools");
  fs::create_directories(tree + "/src/app");
  const std::string window = tree + "/src/app/vVantrelBus";
  std::ofstream(window) << "x";
  ::chmod(window.c_str(), 0755);
  const std::string dump = tree + "/tools/vantrel-dump";
  EXPECT_EQ(fs::weakly_canonical(SiblingProgramPath(dump, "vVantrelBus")).string(), window);
  EXPECT_EQ(fs::weakly_canonical(DefaultSettingsFileName(SiblingProgramPath(dump, "vVantrelBus")))
                .string(),
            tree + "/src/app/vVantrelBus.ini");
  // Installed or unpacked: beside it, whether or not the window is there.
  EXPECT_EQ(SiblingProgramPath(Bin + "/vantrel-dump", "vVantrelBus"), Bin + "/vVantrelBus");
  std::ofstream(tree + "/tools/vVantrelBus") << "x";
  ::chmod((tree + "/tools/vVantrelBus").c_str(), 0755);
  EXPECT_EQ(SiblingProgramPath(dump, "vVantrelBus"), tree + "/tools/vVantrelBus");
}

// The installed case for real: a copy of this program in a read-only folder
// saves into a configuration folder that does not exist yet, and finds the
// file again.
class InstalledCopy : public SettingsLocation {
protected:
  void SetUp() override {
    SettingsLocation::SetUp();
    Exe = Bin + "/vVantrelBus";
    fs::copy_file(fs::read_symlink("/proc/self/exe"), Exe);
    ::chmod(Exe.c_str(), 0755);
    BinWritable(false);
  }
  // Runs the copy as the child mode above; returns its report.
  std::string RunCopy(const std::string& xdg) const {
    return RunUnprivileged([&] {
      std::string cmd = "VANTREL_SETTINGS_LOCATION_CHILD=1 XDG_CONFIG_HOME='" + xdg +
                        "' HOME=/nonexistent '" + Exe + "'";
      FILE* p = ::popen(cmd.c_str(), "r");
      if (!p) return std::string("!popen");
      std::string out;
      char buf[512];
      for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
      ::pclose(p);
      const size_t at = out.find(ChildMarker);
      return at == std::string::npos ? "!no report: " + out
                                     : out.substr(at + std::strlen(ChildMarker));
    });
  }
  std::string Exe;
};

TEST_F(InstalledCopy, SavesIntoANewPrivateConfigFolderAndLoadsItBack) {
  const std::string cfg = Dir + "/home/.config";
  const std::string file = cfg + "/vVantrelBus/vVantrelBus.ini";
  EXPECT_EQ(RunCopy(cfg), "file=" + file + "\nport=COM1\nsaved\nport=/dev/ttyUSB7\n");

  EXPECT_NE(ReadFile(file).find("Port=/dev/ttyUSB7\n"), std::string::npos) << ReadFile(file);
  struct stat st {};
  ASSERT_EQ(::stat((cfg + "/vVantrelBus").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(cfg.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(fs::exists(Bin + "/vVantrelBus.ini"));

  // The next run starts from the saved file.
  EXPECT_EQ(RunCopy(cfg), "file=" + file + "\nport=/dev/ttyUSB7\nsaved\nport=/dev/ttyUSB7\n");
}

TEST_F(InstalledCopy, UncreatableFolderIsReportedAsAWriteError) {
  const std::string blocker = Dir + "/plain-file";
  std::ofstream(blocker) << "x";
  ::chmod(blocker.c_str(), 0666);
  const std::string file = blocker + "/vVantrelBus/vVantrelBus.ini";
  EXPECT_EQ(RunCopy(blocker), "file=" + file + "\nport=COM1\nerror=Unable to write to " + file +
                                  " errno=" + std::to_string(ENOTDIR) + "\nport=COM1\n");
  EXPECT_EQ(ReadFile(blocker), "x");
}

}  // namespace
