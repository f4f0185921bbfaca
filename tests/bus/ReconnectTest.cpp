// Waiting for a lost port and opening it again: the port watch on real
// folders, the connection on pseudo-terminals behind a link (as the
// simulated central's --link makes them), and the texts a failure gives.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "bus/BusConnection.h"
#include "bus/PortError.h"
#include "bus/PortWatch.h"
#include "support/ProcessCounts.h"
#include "support/PtyPair.h"
#include "support/TestBytes.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test_support::FdCount;
using test_support::ThreadCount;

namespace {

struct TTempDir {
  fs::path Path;
  TTempDir() {
    char tmpl[] = "/tmp/vantrel-reconnect-XXXXXX";
    Path = ::mkdtemp(tmpl);
  }
  ~TTempDir() { fs::remove_all(Path); }
};

// Points link at target, replacing it as the simulated central does.
void Relink(const fs::path& link, const std::string& target) {
  ::unlink(link.c_str());
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << std::strerror(errno);
}

// Counts hook calls and lets the test wait for the next one.
struct TSignals {
  std::mutex Mutex;
  std::condition_variable Cv;
  int Count = 0;
  void Fire() {
    std::lock_guard<std::mutex> g(Mutex);
    ++Count;
    Cv.notify_all();
  }
  int Seen() {
    std::lock_guard<std::mutex> g(Mutex);
    return Count;
  }
  bool WaitBeyond(int count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(Mutex);
    return Cv.wait_for(lock, limit, [&] { return Count > count; });
  }
};

TEST(PortWatch, NameComingBackThroughMissingFoldersIsSeenAtOnceAndStopIsPrompt) {
  TTempDir dir;
  // As /dev/serial/by-id/... when no adapter is plugged in: the folders are gone too.
  const fs::path link = dir.Path / "serial" / "by-id" / "usb-Maker_A1-if00-port0";
  TSignals checks;
  TPortWatch watch([&] { checks.Fire(); });
  watch.SetMissingRecheck(-1);  // only a noticed change can bring the check
  const int threads = ThreadCount();
  watch.Start(link);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(checks.Seen(), 0) << "a missing name is not tried";
  EXPECT_FALSE(watch.TakeCheck());

  fs::create_directories(link.parent_path());
  std::ofstream(dir.Path / "ttyUSB3").put('x');
  Relink(link, "../../ttyUSB3");  // relative, as udev makes them
  ASSERT_TRUE(checks.WaitBeyond(0, 10s)) << "the folders are watched";
  EXPECT_TRUE(watch.TakeCheck());
  EXPECT_FALSE(watch.TakeCheck());

  // Present but (say) not yet permitted: tried again, at most twice a second.
  const int before = checks.Seen();
  std::this_thread::sleep_for(1100ms);
  EXPECT_GE(checks.Seen() - before, 1);
  EXPECT_LE(checks.Seen() - before, 3);

  // Stop ends also a wait without a time limit at once.
  fs::remove(link);
  std::this_thread::sleep_for(100ms);
  const auto t0 = std::chrono::steady_clock::now();
  watch.Stop();
  EXPECT_LT(MillisSince(t0), 2000) << "not left to a time-out";
  EXPECT_FALSE(watch.Running());
  EXPECT_EQ(ThreadCount(), threads);
}

// udev makes /dev/serial and /dev/serial/by-id one right after the other:
// a folder made between the look for the nearest one and its watch.
TEST(PortWatch, FolderMadeBetweenTheLookAndItsWatchIsNoticed) {
  TTempDir dir;
  const fs::path link = dir.Path / "serial" / "by-id" / "usb-Maker_A1-if00-port0";
  TSignals checks;
  TPortWatch watch([&] { checks.Fire(); });
  watch.SetMissingRecheck(-1);
  std::atomic<bool> made{false};
  watch.SetLookHook([&] {
    if (!made.exchange(true)) fs::create_directories(link.parent_path());
  });
  watch.Start(link);
  while (!made) std::this_thread::sleep_for(1ms);
  std::ofstream(dir.Path / "ttyUSB0").put('x');
  Relink(link, "../../ttyUSB0");
  EXPECT_TRUE(checks.WaitBeyond(0, 10s));
}

// by-id/x -> bus14 -> /dev/pts/N: a central started again relinks the inner
// name only, and that is what makes the name new.
TEST(PortWatch, NameBehindTwoLinksIsFollowedWhenTheInnerLinkIsMadeAnew) {
  TTempDir dir;
  const fs::path outer = dir.Path / "by-id", inner = dir.Path / "bus14";
  TPtyPair pty;
  Relink(inner, pty.Path);
  Relink(outer, "bus14");
  const TPathEvents::TIdentity lost = TPathEvents::IdentityOf(outer);
  ASSERT_TRUE(lost.Terminal);
  ASSERT_EQ(lost.Links.size(), 2u);
  TSignals checks;
  TPortWatch watch([&] { checks.Fire(); });
  watch.SetMissingRecheck(-1);
  watch.Start(outer, lost);
  EXPECT_FALSE(checks.WaitBeyond(0, 300ms)) << "the old chain is not tried";
  Relink(inner, pty.Path);
  EXPECT_TRUE(checks.WaitBeyond(0, 10s));
  EXPECT_TRUE(TPathEvents::IdentityOf(outer).HasNewLink(lost));
}

// A lost pty's number goes to the next pty opened anywhere: the name leads
// to the central again only once its link is made anew.
TEST(PortWatch, PseudoTerminalIsFollowedOnlyThroughALinkMadeAnew) {
  TTempDir dir;
  const fs::path link = dir.Path / "bus";
  TPtyPair someoneElses;
  Relink(link, someoneElses.Path);
  const TPathEvents::TIdentity lost = TPathEvents::IdentityOf(link);
  ASSERT_TRUE(lost.Terminal);
  TSignals checks;
  TPortWatch watch([&] { checks.Fire(); });
  watch.Start(link, lost);
  EXPECT_FALSE(checks.WaitBeyond(0, 700ms)) << "the old link into a recycled pty is not tried";
  Relink(link, someoneElses.Path);  // a central started again: the same number, a new link
  EXPECT_TRUE(checks.WaitBeyond(0, 10s));
}

// The central's pty goes away and comes back behind the same link.
// The connection's own queue (as vantrel-dump has it) gets the items of
// every reader, the one after a reconnect too; the process's queue none.
TEST(Reconnect, LostPortIsOpenedAgainWhenItsLinkReturnsAndCloseEndsTheWait) {
  TQueuedItem item;
  TMessageQueue own;
  const int processItems = QueueCount();
  TTempDir dir;
  const fs::path link = dir.Path / "bus";
  auto first = std::make_unique<TPtyPair>();
  Relink(link, first->Path);

  TSignals hooks;
  int64_t gapFrom = 0, gapTo = 0;
  const int threads = ThreadCount();
  TBusConnection c;
  c.SetQueue(own);
  c.SetReconnect(true);
  c.SetOnTerminate([&](TReadComDaemon*) { hooks.Fire(); });
  c.SetOnWake([&] { hooks.Fire(); });
  c.SetOnGap([&](int64_t from, int64_t to) { gapFrom = from, gapTo = to; });
  // The owner's loop: Service() whenever a hook fired, until the event.
  auto serviceUntil = [&](TBusConnection::TEvent wanted, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      const int seen = hooks.Seen();
      if (c.Service() == wanted) return true;
      hooks.WaitBeyond(seen, 20ms);
    }
    return false;
  };
  ASSERT_TRUE(c.Open(link, {})) << c.ErrorText();
  const int fds = FdCount();
  ASSERT_TRUE(first->Send(Bytes({0x41})));
  // A hang-up discards what the tty has not handed out yet: read it first.
  for (int i = 0; i < 400 && c.ReceivedBytes() == 0; ++i) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(c.ReceivedBytes(), 1u);

  first->CloseMaster();  // the adapter is pulled
  ASSERT_TRUE(serviceUntil(TBusConnection::evLost, 10000ms));
  EXPECT_TRUE(c.Waiting());
  EXPECT_EQ(c.Reader(), nullptr) << "the ended reader is joined while waiting";
  EXPECT_EQ(c.Error().Fault, TPortFault::pfLost);
  EXPECT_FALSE(c.Error().SystemText.empty());
  own.TakeFirst(item);
  EXPECT_EQ(item.Bytes, Bytes({0x41})) << "what came before the loss is kept";
  first.reset();
  // A name that comes back as something that does not open (here no tty)
  // is tried and waited for further.
  std::ofstream(dir.Path / "file").put('x');
  Relink(link, dir.Path / "file");
  EXPECT_FALSE(serviceUntil(TBusConnection::evBack, 700ms));
  EXPECT_EQ(c.RetryError().Fault, TPortFault::pfOther);

  TPtyPair second;
  Relink(link, second.Path);
  ASSERT_TRUE(serviceUntil(TBusConnection::evBack, 10000ms));
  EXPECT_GT(gapTo, gapFrom);
  EXPECT_GT(gapFrom, 0);
  ASSERT_TRUE(second.Send(Bytes({0x42})));
  const auto sent = std::chrono::steady_clock::now();
  do own.TakeFirst(item);
  while (item.Bytes.empty() && MillisSince(sent) < 10000 &&
         (std::this_thread::sleep_for(5ms), true));
  EXPECT_EQ(item.Bytes, Bytes({0x42})) << "the new reader queues where the first did";
  EXPECT_EQ(QueueCount(), processItems);
  EXPECT_EQ(c.ReceivedBytes(), 2u);
  EXPECT_EQ(FdCount(), fds) << "nothing held from the wait or the old link";

  // Lost again; closing while waiting ends the wait at once.
  second.CloseMaster();
  ASSERT_TRUE(serviceUntil(TBusConnection::evLost, 10000ms));
  const auto t0 = std::chrono::steady_clock::now();
  c.Close();
  EXPECT_LT(MillisSince(t0), 2000) << "not left to a time-out";
  EXPECT_FALSE(c.Waiting());
  EXPECT_EQ(ThreadCount(), threads);
}

// A recording writes the gap where the hooks get it: before anything the
// new link reads, even when the central is already sending.
TEST(Reconnect, GapReachesTheHooksBeforeTheNewLinkReadsAByte) {
  TTempDir dir;
  const fs::path link = dir.Path / "bus";
  auto first = std::make_unique<TPtyPair>();
  Relink(link, first->Path);
  TSignals hooks;
  std::mutex orderMutex;
  std::string order;  // 'c' a chunk read, 'g' the gap
  auto note = [&](char what) {
    std::lock_guard<std::mutex> g(orderMutex);
    order += what;
  };
  TBusConnection c;
  c.SetReconnect(true);
  c.SetOnTerminate([&](TReadComDaemon*) { hooks.Fire(); });
  c.SetOnWake([&] { hooks.Fire(); });
  c.SetOnChunk([&](std::string_view, int64_t) { note('c'); });
  c.SetOnGap([&](int64_t, int64_t) {
    std::this_thread::sleep_for(50ms);  // a slow hook: the new reader must not run meanwhile
    note('g');
  });
  auto serviceUntil = [&](TBusConnection::TEvent wanted) {
    for (int i = 0; i < 500; ++i) {
      const int seen = hooks.Seen();
      if (c.Service() == wanted) return true;
      hooks.WaitBeyond(seen, 20ms);
    }
    return false;
  };
  ASSERT_TRUE(c.Open(link, {})) << c.ErrorText();
  first->CloseMaster();
  ASSERT_TRUE(serviceUntil(TBusConnection::evLost));
  first.reset();

  TPtyPair second;
  std::atomic<bool> sending{true};
  std::thread central([&] {
    while (sending) {
      second.Send(Bytes({0x1F}));
      std::this_thread::sleep_for(1ms);
    }
  });
  Relink(link, second.Path);
  const bool back = serviceUntil(TBusConnection::evBack);
  for (int i = 0; i < 200 && c.ReceivedBytes() == 0; ++i) std::this_thread::sleep_for(5ms);
  sending = false;
  central.join();
  c.Close();
  ASSERT_TRUE(back);
  std::lock_guard<std::mutex> g(orderMutex);
  ASSERT_FALSE(order.empty());
  EXPECT_EQ(order.front(), 'g') << order;
  EXPECT_NE(order.find('c'), std::string::npos) << "the new link read the central";
}

// ---- what a failure says --------------------------------------------------------

TEST(PortError, PermissionHintIsTheOneThatHelps) {
  TDeviceAccess a;
  a.IsDevice = true;
  a.Mode = 0660;
  a.Gid = 20;
  a.GroupName = "dialout";
  EXPECT_EQ(ChoosePermissionHint(a).Kind, TPermissionHint::phJoinGroup);
  TPortError e;
  e.Fault = TPortFault::pfPermission;
  e.Port = "/dev/ttyUSB0";
  e.SystemText = std::strerror(EACCES);
  e.Hint = ChoosePermissionHint(a);
  EXPECT_EQ(PortErrorTextCzech(e), "Port /dev/ttyUSB0 nelze otevřít: chybí oprávnění (" +
                                       e.SystemText +
                                       ") – uživatel musí být členem skupiny dialout");
  a.UserInGroup = true;  // joined, but this session began before
  EXPECT_EQ(ChoosePermissionHint(a).Kind, TPermissionHint::phLogInAgain);

  // Joining would not help: root's group, a group without read and write,
  // or a group the session already has.
  for (auto change :
       {+[](TDeviceAccess& d) { d.Gid = 0, d.GroupName = "root"; },
        +[](TDeviceAccess& d) { d.Mode = 0600; }, +[](TDeviceAccess& d) { d.Mode = 0620; },
        +[](TDeviceAccess& d) { d.SessionHasGroup = true; }}) {
    TDeviceAccess other = a;
    change(other);
    e.Hint = ChoosePermissionHint(other);
    EXPECT_EQ(e.Hint.Kind, TPermissionHint::phUdevRule);
    EXPECT_NE(PortErrorTextCzech(e).find("pravidlem udev"), std::string::npos);
    EXPECT_NE(PortErrorTextEnglish(e).find("udev rule"), std::string::npos);
  }
  a.IsDevice = false;  // a plain file: no hint at all
  EXPECT_EQ(ChoosePermissionHint(a).Kind, TPermissionHint::phNone);
}

TEST(PortError, TextsNameThePortAndTheCauseWithTheSystemsText) {
  TTempDir dir;
  const std::string missing = dir.Path / "ttyUSB9";
  TBusConnection none;
  ASSERT_FALSE(none.Open(missing, {}));
  EXPECT_EQ(PortErrorTextCzech(none.Error()),
            "Port " + missing + " neexistuje (" + std::strerror(ENOENT) + ")");

  TPtyPair pty;
  TBusConnection first, second;
  ASSERT_TRUE(first.Open(pty.Path, {}));
  ASSERT_FALSE(second.Open(pty.Path, {}));
  EXPECT_EQ(PortErrorTextCzech(second.Error()),
            "Port " + pty.Path + " používá jiný program (Port owned by other process)");
  first.Close();

  TBusConnection badLine;
  ASSERT_FALSE(badLine.Open(pty.Path, {9600, 9}));
  EXPECT_EQ(PortErrorTextCzech(badLine.Error()),
            "Port " + pty.Path + " nepřijal nastavení linky: počet datových bitů 9 (" +
                std::strerror(EINVAL) + ")");
  EXPECT_EQ(PortErrorTextEnglish(badLine.Error()), "cannot configure port " + pty.Path +
                                                       ": data bits 9 refused (" +
                                                       std::strerror(EINVAL) + ")");

  // A name holding a newline keeps the message on one line.
  TBusConnection odd;
  ASSERT_FALSE(odd.Open("/tmp/no\nport\"", {}));
  EXPECT_EQ(PortErrorTextEnglish(odd.Error()),
            "cannot open port \"/tmp/no\\nport\\\"\": " + std::string(std::strerror(ENOENT)));
  EXPECT_EQ(QuotedPortName(""), "\"\"");
}

}  // namespace
