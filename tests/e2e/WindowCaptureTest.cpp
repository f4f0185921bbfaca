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
#include <cstdio>
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

// Starts the window (offscreen) with args; its standard error goes to err.
pid_t StartWindow(std::vector<std::string> args, const fs::path& err) {
  args.insert(args.begin(), VANTREL_WINDOW_EXE);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("XDG_CACHE_HOME", "/tmp/vantrel-test-cache", 1);  // its sessions, not the user's
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

TEST(WindowCapture, KilledWhileRecordingLeavesAllButTheLastSecond) {
  const fs::path dir = fs::temp_directory_path() / ("vantrel-kill-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string log = (dir / "k.vlog").string();
  const pid_t pid = StartWindow(
      {"--settings", (dir / "t.ini").string(), "--demo", "--demo-rate", "11520", "--record", log},
      dir / "err");
  ASSERT_GT(pid, 0);

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

// The file to show named as the recording too: refused before the
// recording could empty it.
TEST(WindowCapture, OpenAndRecordOfOneFileIsRefusedAndTheFileStays) {
  const fs::path dir = fs::temp_directory_path() / ("vantrel-twice-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string log = (dir / "x.vlog").string();
  const std::string text = "# vantrel-capture 1\n(1796738585.000000) 41\n";
  FILE* f = std::fopen(log.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs(text.c_str(), f);
  std::fclose(f);
  const pid_t pid = StartWindow({"--settings", (dir / "t.ini").string(), "--open", log, "--record",
                                 (dir / "." / "x.vlog").string()},
                                dir / "err");
  ASSERT_GT(pid, 0);
  // It ends by itself; only a window left open would need the kill.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "the window started";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
  EXPECT_EQ(FileSize(log), text.size());
  fs::remove_all(dir);
}

}  // namespace
