// Local time, and what the program asks of its process: stop and report
// requests, the thread's processor time.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "base/LocalTime.h"
#include "base/Process.h"

namespace {

#ifndef _WIN32
TEST(LocalTime, OffsetFollowsTheZoneAndDaylightSavingTime) {
  const char* kept = std::getenv("TZ");
  const std::string before = kept ? kept : "";
  for (const char* zone : {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "NST3:30NDT,M3.2.0,M11.1.0"}) {
    ::setenv("TZ", zone, 1);
    ::tzset();
    // Winter, summer, before 1970, far ahead.
    for (const std::time_t t : {1767225600L, 1782864000L, -86400L * 400, 4102444800L}) {
      std::tm tm{};
      ASSERT_TRUE(ToLocalTime(t, tm));
      EXPECT_EQ(LocalOffsetSeconds(t), tm.tm_gmtoff) << zone << " at " << t;
    }
  }
  EXPECT_EQ(LocalOffsetSeconds(1782864000L), -9000);  // NDT, 2026-07-01
  if (kept)
    ::setenv("TZ", before.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

TEST(SignalWatch, StopAndReportArriveOnAnotherThreadUntilTheWatchEnds) {
  std::mutex lock;
  std::condition_variable arrived;
  int stops = 0, reports = 0;
  std::thread::id where;
  {
    TSignalWatch watch;
    ASSERT_TRUE(watch.OnStop([&] {
      std::lock_guard guard(lock);
      ++stops;
      where = std::this_thread::get_id();
      arrived.notify_all();
    }));
    ASSERT_TRUE(watch.OnReport([&] {
      std::lock_guard guard(lock);
      ++reports;
      arrived.notify_all();
    }));
    ::kill(::getpid(), SIGTERM);
    ::kill(::getpid(), SIGUSR1);
    ::kill(::getpid(), SIGINT);
    std::unique_lock wait(lock);
    EXPECT_TRUE(arrived.wait_for(wait, std::chrono::seconds(10),
                                 [&] { return stops == 2 && reports == 1; }));
    EXPECT_NE(where, std::this_thread::get_id());
  }
  struct sigaction now {};
  ASSERT_EQ(::sigaction(SIGTERM, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_DFL) << "the earlier handling is back";
}

#else
TEST(SignalWatch, StopIsTheConsolesAndThereIsNoReport) {
  TSignalWatch watch;
  EXPECT_TRUE(watch.OnStop([] {}));
  EXPECT_FALSE(watch.OnReport([] {}));
}
#endif

TEST(ThreadCpuMs, CountsRunningNotWaiting) {
  const int64_t start = ThreadCpuMs();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ThreadCpuMs() - start < 50 && std::chrono::steady_clock::now() < deadline) {}
  EXPECT_GE(ThreadCpuMs() - start, 50);
  const int64_t busy = ThreadCpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(ThreadCpuMs() - busy, 100);
}
}  // namespace
