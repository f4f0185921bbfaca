// The window program recording its demo central, killed with SIGKILL: the
// capture log it leaves reads back without error up to about a second
// before the kill.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "capture/CaptureReader.h"
#include "support/MachineLoad.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

uint64_t FileSize(const fs::path& p) {
  std::error_code ec;
  const auto n = fs::file_size(p, ec);
  return ec ? 0 : n;
}

TEST(WindowCapture, KilledWhileRecordingLeavesAllButTheLastSecond) {
  const fs::path dir = fs::temp_directory_path() / ("vantrel-kill-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string log = (dir / "k.vlog").string();
  const std::string ini = (dir / "t.ini").string();
  const std::string exe = VANTREL_WINDOW_EXE;
  std::vector<std::string> args = {exe,           "--settings", ini,        "--demo",
                                   "--demo-rate", "11520",      "--record", log};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, (dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);

  // Recording for a while: the header and some seconds of reads.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (FileSize(log) < 20000 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const int64_t killedUs = NowUs();
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the window ended by itself: " << status;
  ASSERT_GE(FileSize(log), 20000u) << "nothing recorded in 20 s";

  TCaptureReader in;
  ASSERT_TRUE(in.Open(log)) << in.LastErrorText();
  ASSERT_TRUE(in.IsLog());
  std::string program;
  int64_t lastUs = 0;
  uint64_t bytes = 0;
  for (TCaptureItem item; in.Next(item);) {
    if (item.Kind == TCaptureKind::ckMetadata && item.Key == "program") program = item.Text;
    if (item.Kind == TCaptureKind::ckChunk) {
      lastUs = item.TimeUs;
      bytes += item.Bytes.size();
    }
  }
  EXPECT_TRUE(in.LastErrorText().empty()) << in.LastErrorText();
  EXPECT_EQ(in.MalformedLines(), 0u);
  EXPECT_EQ(program.rfind("vVantrelBus ", 0), 0u) << program;
  EXPECT_GT(bytes, 5000u);
  // About the last second is lost: judged where the machine is not
  // saturated (it then holds the window back for a second and more).
  if (!test_support::MachineSaturated()) {
    EXPECT_GE(lastUs, killedUs - 1000000)
        << "the last read kept is " << (killedUs - lastUs) / 1000 << " ms before the kill";
  }
  fs::remove_all(dir);
}

}  // namespace
