// vantrel-dump --stats / --events: the window's statistics and events over a
// capture log, as a table at the end (or every N seconds) and as lines.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// Power on, device 1 talks twice, device 2 is called, the power goes off
// 7 s later, device 1 has been silent for more than 5 s, the line is lost
// for 3 s, then device 1 talks again.
const char* const kLog =
    "# vantrel-capture 1\n"
    "# line 115200 8N1\n"
    "# start 2026-12-08T14:03:05.000000Z\n"
    "(1796738585.000000) 00 80 80 41 4A 41 00 0B\n"
    "(1796738586.000000) 41 4A 41 00 0B 42\n"
    "(1796738592.000000) 42 00 81 81\n"
    "# gap 3.000000\n"
    "(1796738596.000000) 41 4A 41 00 0B\n";

class DumpStats : public ::testing::Test {
protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("vantrel-dstats-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "run.vlog") << kLog;
    std::ofstream(dir / "dump.ini") << "[Monitor]\nSilenceLimit=5\n";
  }
  void TearDown() override { fs::remove_all(dir); }

  // Exit status and standard output of the dump with options, local time UTC.
  int Dump(const std::string& options, std::string& out) {
    const std::string command = "TZ=UTC " + std::string(VANTREL_DUMP_EXE) + " --settings " +
                                (dir / "dump.ini").string() + " " + options + " > " +
                                (dir / "out.txt").string() + " 2>/dev/null";
    const int status = std::system(command.c_str());
    std::stringstream text;
    text << std::ifstream(dir / "out.txt").rdbuf();
    out = text.str();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path dir;
};

}  // namespace

TEST_F(DumpStats, EventsAsTheyHappenAndTheTableAtTheEnd) {
  std::string out;
  ASSERT_EQ(Dump("--file " + (dir / "run.vlog").string() + " --events --stats --no-items", out), 0);
  // Items are timed by their last byte at the line's speed: a few µs before the read.
  EXPECT_EQ(out.rfind("@ 14:03:04.999 power Napájení: zapnuto\n"
                      "@ 14:03:10.999 silent Zařízení 01 mlčí déle než 5.0 s\n"
                      "@ 14:03:12.000 power Napájení: zapnuto → $81 (zapnuto trvalo 7.0 s)\n"
                      "@ 14:03:13.000 gap Spojení ztraceno na 3.0 s\n"
                      "@ 14:03:16.000 back Zařízení 01 opět hlásí (mlčelo 10.0 s)\n"
                      "# statistika 14:03:16.000\n",
                      0),
            0u)
      << out;
  EXPECT_NE(out.find("\nCentrála         2        0 "), std::string::npos) << out;
  EXPECT_NE(out.find("\n01               3        3 "), std::string::npos) << out;
  EXPECT_NE(out.find("\n02               0        2 "), std::string::npos) << out;
  EXPECT_NE(out.find("celkem: 10 položek, 23 B, nerozpoznáno 0 B\n"), std::string::npos);
  EXPECT_EQ(out.find("Vyhybka"), std::string::npos) << "no item lines";
}

TEST_F(DumpStats, ItemLinesStayAndTablesComeEveryNSeconds) {
  std::string out;
  ASSERT_EQ(Dump("--file " + (dir / "run.vlog").string() + " --stats 2", out), 0);
  EXPECT_NE(out.find("4A 41 00 0B\tVyhybka 2 L T\n"), std::string::npos);
  // 2 s after the first item, again 4 s later, then at the end.
  std::size_t tables = 0;
  for (std::size_t at = 0; (at = out.find("# statistika ", at)) != std::string::npos; ++at)
    ++tables;
  EXPECT_EQ(tables, 3u) << out;
  EXPECT_EQ(out.find("@ "), std::string::npos) << "no events unless asked";
}

TEST_F(DumpStats, BadOptions) {
  std::string out;
  EXPECT_EQ(Dump("--file " + (dir / "run.vlog").string() + " --no-items", out), 2);
  EXPECT_EQ(Dump("--file " + (dir / "run.vlog").string() + " --stats 0", out), 2);
  EXPECT_EQ(Dump("--stats x --file " + (dir / "run.vlog").string(), out), 2);
  EXPECT_EQ(Dump("--help", out), 0);
  EXPECT_NE(out.find("--stats [N]"), std::string::npos);
  EXPECT_NE(out.find("--events"), std::string::npos);
}
