// The simulated central in-process, as the window's demo mode uses it: it
// sends nothing before a reader opens the pty, keeps the rate, saves exactly
// what it sent, and stops at once.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
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

// Reads the pty until n bytes came or the limit passed: each byte with the
// moment it arrived.
struct TTimedRead {
  std::string Bytes;
  std::vector<std::chrono::steady_clock::time_point> At;
  long long Ms(int from, int to) const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(At[to] - At[from]).count();
  }
};

TTimedRead ReadTimed(int fd, std::size_t n, std::chrono::seconds limit) {
  TTimedRead r;
  const auto end = std::chrono::steady_clock::now() + limit;
  while (r.Bytes.size() < n && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    char buf[16];
    if (poll(&p, 1, 5) <= 0) continue;
    const ssize_t got = read(fd, buf, sizeof buf);
    for (ssize_t i = 0; i < got; ++i) {
      r.Bytes.push_back(buf[i]);
      r.At.push_back(std::chrono::steady_clock::now());
    }
  }
  return r;
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
  // The reader stops a moment before the sim does: what it sent meanwhile
  // is saved, unread.
  const std::string saved = Slurp(cfg.SaveFile);
  EXPECT_EQ(saved.size(), sim.BytesSent()) << "the save file must hold exactly the bytes sent";
  ASSERT_GE(saved.size(), got.size());
  EXPECT_EQ(saved.substr(0, got.size()), got);
  EXPECT_LT(saved.size() - got.size(), 1000u);
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
  // A mark between the reads is passed over: neither a byte nor a bad line.
  std::ofstream(dir / "t.vlog") << "# vantrel-capture 1\n(1796738585.000000) 41\n"
                                << "# mark 2026-12-08T14:03:05.000000Z zkrat\n"
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
  const TTimedRead got = ReadTimed(fd, 3, 3s);
  sim.Stop();
  close(fd);
  ASSERT_EQ(got.Bytes, "\x41\x82\xC3");
  // 400 ms apart recorded, 200 ms at twice the speed; loose bounds for a
  // loaded machine, yet far from the recorded pace (400, 800) and from none.
  EXPECT_GE(got.Ms(0, 1), 100);
  EXPECT_LT(got.Ms(0, 1), 350);
  EXPECT_GE(got.Ms(0, 2), 300);
  EXPECT_LT(got.Ms(0, 2), 700);
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

// A log whose clock steps forward by decades (a board that starts at 1970
// and is set by the network later) plays on at once after the step; the
// pause after it keeps its recorded length.
TEST(SimCentral, AForwardStepOfTheClockPlaysAsAGap) {
  const fs::path dir = TempDir();
  std::ofstream(dir / "step.vlog") << "# vantrel-capture 1\n(86400.000000) 41\n"
                                   << "(1796793482.000000) 42\n(1796793482.300000) 43\n";
  TSimConfig cfg;
  cfg.ReplayFile = dir / "step.vlog";
  cfg.LingerSeconds = 0;
  TSimCentral sim(cfg);
  ASSERT_TRUE(sim.Start()) << sim.LastErrorText();
  const int fd = OpenRaw(sim.PortPath());
  ASSERT_GE(fd, 0);
  // Only a bound for a failure: the step would take 54 years.
  const TTimedRead got = ReadTimed(fd, 3, 20s);
  sim.Stop();
  close(fd);
  ASSERT_EQ(got.Bytes, "\x41\x42\x43");
  EXPECT_GE(got.Ms(1, 2), 200);
  fs::remove_all(dir);
}

// Stopped with linger (as vantrel-sim is on SIGTERM), the central lets the
// reader take everything it sent before the line closes.
TEST(SimCentral, StoppedWithLingerTheReaderGetsAllThatWasSent) {
  TSimConfig cfg;
  cfg.BytesPerSecond = 0;  // as fast as the line takes them: the line fills up
  cfg.LingerSeconds = 30;  // only a bound for a failure: the reader closes first
  TSimCentral sim(cfg);
  ASSERT_TRUE(sim.Start()) << sim.LastErrorText();
  const int fd = OpenRaw(sim.PortPath());
  ASSERT_GE(fd, 0);
  std::string got;
  char buf[4096];
  const auto readSome = [&](int ms) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0 || !(p.revents & POLLIN)) return false;
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    got.append(buf, static_cast<std::size_t>(n));
    return true;
  };
  while (got.size() < 20000) ASSERT_TRUE(readSome(10000));
  // Let the line fill up: the central then waits for the reader.
  for (uint64_t sent = 0; sent != sim.BytesSent();) {
    sent = sim.BytesSent();
    std::this_thread::sleep_for(100ms);
  }
  // Stop while the line is full; a stop that does not wait has closed the
  // line within the half second.  Then take the rest: quiet for a while
  // means the central has nothing more.
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    sim.Stop(true);
    stopped = true;
  });
  for (int i = 0; i < 50 && !stopped; ++i) std::this_thread::sleep_for(10ms);
  while (readSome(1000)) {}
  close(fd);
  stopper.join();
  EXPECT_EQ(got.size(), sim.BytesSent());
}
