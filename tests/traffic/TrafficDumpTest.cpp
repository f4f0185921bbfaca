// The export writes what vantrel-dump prints: the same capture framed by the
// dump and recorded into the ring gives the same lines.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bus/RawFraming.h"
#include "capture/CaptureWriter.h"
#include "sim/SimTraffic.h"
#include "traffic/TrafficExport.h"
#include "traffic/TrafficRing.h"

namespace fs = std::filesystem;

TEST(TrafficDump, ExportOfACaptureEqualsTheDumpLineForLine) {
  const fs::path dir = fs::temp_directory_path() / ("vantrel-tdump-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  // Realistic traffic, then a central message cut short: the window logs it.
  TSimTraffic traffic(20261208);
  std::string capture;
  while (capture.size() < 200000) capture += traffic.NextItem();
  capture += std::string("\x00\x12", 2);
  std::ofstream(dir / "run.bin", std::ios::binary) << capture;
  // MaxLoko changes the status texts: both sides must use the file's value.
  std::ofstream(dir / "dump.ini") << "[Central]\nMaxLoko=20\n";

  const std::string command = std::string(VANTREL_DUMP_EXE) + " --settings " +
                              (dir / "dump.ini").string() + " --file " +
                              (dir / "run.bin").string() + " > " + (dir / "dump.txt").string();
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  TTrafficRing ring;
  TCaptureFramer framer([&](std::string_view item) {
    ring.Append(0, item);
    return true;
  });
  framer.Feed(capture);
  framer.Finish();
  std::string error;
  ASSERT_TRUE(
      ExportTraffic(ring, nullptr, TTimeMode::tmNone, 20, (dir / "export.txt").string(), error))
      << error;

  std::ifstream dump(dir / "dump.txt"), exported(dir / "export.txt");
  std::string a, b, last;
  std::size_t line = 0;
  while (true) {
    const bool moreA = static_cast<bool>(std::getline(dump, a));
    const bool moreB = static_cast<bool>(std::getline(exported, b));
    ASSERT_EQ(moreA, moreB) << "line counts differ after " << line;
    if (!moreA) break;
    ++line;
    ASSERT_EQ(a, b) << "line " << line;
    last = a;
  }
  EXPECT_GT(line, 50000u);
  EXPECT_EQ(last, "00 12\tlog") << "the last line";
  fs::remove_all(dir);
}

// Marks in a capture log are no traffic: the dump prints the same lines, times
// and all, as for the log without them, and finds no bad line.
TEST(TrafficDump, MarksInALogChangeNothingOfTheDump) {
  const fs::path dir = fs::temp_directory_path() / ("vantrel-tmark-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "dump.ini") << "[Central]\nMaxLoko=16\n";
  const int64_t t0 = 1796738585000000;
  for (const char* name : {"plain.vlog", "marked.vlog"}) {
    TCaptureWriter log;
    ASSERT_TRUE(log.Open((dir / name).string()));
    ASSERT_TRUE(log.WriteHeader(TCaptureHeader{"/dev/ttyS0", "9600 8N1", "t", t0}));
    TSimTraffic same(5);
    for (int read = 0; read < 300; ++read) {
      std::string bytes;
      for (int i = 0; i < 4; ++i) bytes += same.NextItem();
      ASSERT_TRUE(log.AddChunk(bytes, t0 + read * 20000));
      if (std::string(name) == "marked.vlog" && read % 50 == 0)
        ASSERT_TRUE(log.AddMetadata("mark", FormatCaptureMark(t0 + read * 20000, "značka")));
    }
    ASSERT_TRUE(log.Close());
  }
  std::string outputs[2];
  int i = 0;
  for (const char* name : {"plain.vlog", "marked.vlog"}) {
    const fs::path out = dir / (std::string(name) + ".txt");
    const std::string command = std::string(VANTREL_DUMP_EXE) + " --settings " +
                                (dir / "dump.ini").string() + " --time a --file " +
                                (dir / name).string() + " > " + out.string() + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(out);
    std::stringstream ss;
    ss << in.rdbuf();
    outputs[i++] = ss.str();
  }
  EXPECT_GT(outputs[0].size(), 10000u);
  EXPECT_EQ(outputs[0], outputs[1]);
  fs::remove_all(dir);
}
