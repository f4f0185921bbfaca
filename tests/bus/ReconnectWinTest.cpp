// Waiting for a lost port on Windows: COM ports are names in the device
// namespace, not files in a folder, so the watch checks the name twice a
// second; and what a failed open says there.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "bus/BusConnection.h"
#include "bus/PortError.h"
#include "bus/PortWatch.h"

using namespace std::chrono_literals;

namespace {

long long MillisSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               t0)
      .count();
}

TEST(PortWatchWin, DeviceNamesAreFoundByName) {
  const char* port = std::getenv("VANTREL_TEST_PORT");
  if (!port || !*port) GTEST_SKIP() << "VANTREL_TEST_PORT names no port";
  EXPECT_TRUE(TPathEvents::Exists(std::string("\\\\.\\") + port));
  EXPECT_FALSE(TPathEvents::Exists("\\\\.\\COM249"));
  EXPECT_FALSE(TPathEvents::Exists(""));
}

TEST(PortWatchWin, NameThatAppearsIsTriedWithinACheckAndStopIsPrompt) {
  char folder[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
  const std::string path =
      std::string(folder) + "vantrel-watch-" + std::to_string(GetCurrentProcessId());
  DeleteFileA(path.c_str());
  std::atomic<int> checks{0};
  TPortWatch watch([&] { ++checks; });
  watch.Start(path);
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(checks.load(), 0) << "a missing name is not tried";

  std::ofstream(path).put('x');
  const auto made = std::chrono::steady_clock::now();
  while (checks.load() == 0 && MillisSince(made) < 3000) std::this_thread::sleep_for(10ms);
  EXPECT_LT(MillisSince(made), 1500) << "checked at most a check period later";
  EXPECT_TRUE(watch.TakeCheck());

  const auto t0 = std::chrono::steady_clock::now();
  watch.Stop();
  EXPECT_LT(MillisSince(t0), 300);
  EXPECT_FALSE(watch.Running());
  DeleteFileA(path.c_str());
}

// Win32's error numbers mean the same causes as errno's do elsewhere.
TEST(PortErrorWin, AMissingPortIsSaidToBeMissing) {
  TBusConnection none;
  ASSERT_FALSE(none.Open("COM249", {}));
  EXPECT_EQ(none.Error().Fault, TPortFault::pfMissing) << none.ErrorCode();
  EXPECT_EQ(PortErrorTextCzech(none.Error()).rfind("Port COM249 neexistuje (", 0), 0u)
      << PortErrorTextCzech(none.Error());
  EXPECT_EQ(none.Error().Hint.Kind, TPermissionHint::phNone);
}

}  // namespace
