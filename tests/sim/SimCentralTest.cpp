// The simulated central in-process, as the window's demo mode uses it: it
// sends nothing before a reader opens the pty, keeps the rate, saves exactly
// what it sent, and stops at once.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "sim/SimCentral.h"
#include "support/Sanitized.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

fs::path TempDir() {
  fs::path dir = fs::temp_directory_path() / ("vantrel-simc-" + std::to_string(getpid()));
  fs::create_directories(dir);
  return dir;
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Reads the pty for the given time, as a raw reader would.
std::string ReadFor(int fd, std::chrono::milliseconds total) {
  std::string data;
  const auto end = std::chrono::steady_clock::now() + total;
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
      char buf[4096];
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) data.append(buf, static_cast<std::size_t>(n));
    }
  }
  return data;
}

int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
  return fd;
}

}  // namespace

TEST(SimCentral, WaitsForTheReaderKeepsTheRateAndSavesWhatItSent) {
  const fs::path dir = TempDir();
  TSimConfig cfg;
  cfg.BytesPerSecond = 2000;
  cfg.Seed = 5;
  cfg.SaveFile = dir / "saved.bin";
  cfg.LinkPath = dir / "link";
  TSimCentral sim(cfg);
  ASSERT_TRUE(sim.Start()) << sim.LastErrorText();
  ASSERT_EQ(fs::read_symlink(cfg.LinkPath), sim.PortPath());

  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(sim.BytesSent(), 0u) << "sent with no reader on the line";

  const int fd = OpenRaw(cfg.LinkPath);
  ASSERT_GE(fd, 0);
  const std::string got = ReadFor(fd, 1200ms);
  const auto t0 = std::chrono::steady_clock::now();
  sim.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms) << "Stop() must not wait for the linger";
  close(fd);

  // About one second of sending after the settle pause: 2000 bytes, loosely.
  EXPECT_GT(got.size(), 1000u);
  EXPECT_LT(got.size(), 3000u);
  EXPECT_EQ(Slurp(cfg.SaveFile), got) << "the save file must hold exactly the bytes sent";
  EXPECT_FALSE(fs::exists(fs::symlink_status(cfg.LinkPath))) << "link left behind";
  EXPECT_EQ(sim.LastErrorText(), "");
  fs::remove_all(dir);
}

TEST(SimCentral, EndsAfterItsSecondsAndReportsFinished) {
  TSimConfig cfg;
  cfg.BytesPerSecond = 0;  // as fast as the reader takes them
  cfg.Seconds = 0.3;
  cfg.LingerSeconds = 0;
  TSimCentral sim(cfg);
  std::atomic<bool> notified{false};
  sim.SetOnFinished([&] { notified = true; });
  ASSERT_TRUE(sim.Start());
  const int fd = OpenRaw(sim.PortPath());
  ASSERT_GE(fd, 0);
  const std::string got = ReadFor(fd, 1000ms);
  EXPECT_TRUE(sim.Finished());
  EXPECT_TRUE(notified);
  // Paced at its default 960 B/s it would send about 300 bytes.
  EXPECT_GT(got.size(), kSanitized ? 2000u : 10000u) << "rate 0 should flood the line";
  sim.Stop();
  close(fd);
}

TEST(SimCentral, ReportsWhatCannotBeOpenedAndLeavesNothingBehind) {
  const fs::path dir = TempDir();
  {
    TSimConfig cfg;
    cfg.SaveFile = dir / "no-such-dir" / "saved.bin";
    TSimCentral sim(cfg);
    EXPECT_FALSE(sim.Start());
    EXPECT_NE(sim.LastErrorText().find("No such file or directory"), std::string::npos)
        << sim.LastErrorText();
  }
  {
    std::ofstream(dir / "regular") << "keep me";
    TSimConfig cfg;
    cfg.LinkPath = dir / "regular";
    TSimCentral sim(cfg);
    EXPECT_FALSE(sim.Start());
    EXPECT_EQ(Slurp(dir / "regular"), "keep me") << "a real file must not be replaced by the link";
  }
  {
    TSimConfig cfg;
    cfg.Port = dir / "no-port";
    TSimCentral sim(cfg);
    EXPECT_FALSE(sim.Start());
    EXPECT_NE(sim.LastErrorText().find("no-port"), std::string::npos);
  }
  {
    std::ofstream(dir / "empty.bin").flush();
    TSimConfig cfg;
    cfg.ReplayFile = dir / "empty.bin";
    TSimCentral sim(cfg);
    EXPECT_FALSE(sim.Start());
    EXPECT_NE(sim.LastErrorText().find("empty"), std::string::npos);
  }
  fs::remove_all(dir);
}

// A capture log plays with its recorded pauses, divided by the speed; its
// malformed lines are skipped and counted; one without bytes is refused.
TEST(SimCentral, ReplaysALogWithItsTimingScaledBySpeed) {
  const fs::path dir = TempDir();
  std::ofstream(dir / "t.vlog") << "# vantrel-capture 1\n(1796738585.000000) 41\n"
                                << "(1796738585.400000) 82\nbroken line\n(1796738585.800000) C3\n";
  TSimConfig cfg;
  cfg.ReplayFile = dir / "t.vlog";
  cfg.Speed = 2;
  cfg.LingerSeconds = 0;
  TSimCentral sim(cfg);
  ASSERT_TRUE(sim.Start()) << sim.LastErrorText();
  const int fd = OpenRaw(sim.PortPath());
  ASSERT_GE(fd, 0);
  // Each byte with the time it arrived.
  std::string got;
  std::vector<std::chrono::steady_clock::time_point> at;
  const auto end = std::chrono::steady_clock::now() + 3s;
  while (got.size() < 3 && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    char buf[16];
    if (poll(&p, 1, 5) <= 0) continue;
    const ssize_t n = read(fd, buf, sizeof buf);
    for (ssize_t i = 0; i < n; ++i) {
      got.push_back(buf[i]);
      at.push_back(std::chrono::steady_clock::now());
    }
  }
  sim.Stop();
  close(fd);
  ASSERT_EQ(got, "\x41\x82\xC3");
  const auto ms = [&](int k) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(at[k] - at[0]).count();
  };
  // 400 ms apart recorded, 200 ms at twice the speed; loose bounds for a
  // loaded machine, yet far from the recorded pace (400, 800) and from none.
  EXPECT_GE(ms(1), 100);
  EXPECT_LT(ms(1), 350);
  EXPECT_GE(ms(2), 300);
  EXPECT_LT(ms(2), 700);
  EXPECT_EQ(sim.MalformedLines(), 1u);

  // Played round and round, the log's one bad line is still one.
  cfg.Loop = true;
  cfg.Speed = 50;
  TSimCentral looped(cfg);
  ASSERT_TRUE(looped.Start()) << looped.LastErrorText();
  const int lfd = OpenRaw(looped.PortPath());
  ASSERT_GE(lfd, 0);
  std::size_t bytes = 0;
  const auto loopEnd = std::chrono::steady_clock::now() + 5s;
  while (bytes < 9 && std::chrono::steady_clock::now() < loopEnd) {
    pollfd p{lfd, POLLIN, 0};
    char buf[16];
    if (poll(&p, 1, 5) > 0)
      bytes += static_cast<std::size_t>(std::max<ssize_t>(0, read(lfd, buf, sizeof buf)));
  }
  looped.Stop();
  close(lfd);
  EXPECT_GE(bytes, 9u) << "three rounds";
  EXPECT_EQ(looped.MalformedLines(), 1u);

  std::ofstream(dir / "none.vlog") << "# vantrel-capture 1\n# port /dev/ttyS0\n";
  cfg.ReplayFile = dir / "none.vlog";
  TSimCentral none(cfg);
  EXPECT_FALSE(none.Start());
  EXPECT_NE(none.LastErrorText().find("holds no bytes"), std::string::npos) << none.LastErrorText();
  fs::remove_all(dir);
}
