// The process's console events, thread times and stall probe on Windows.
#include <windows.h>

#include <mutex>
#include <utility>

#include "base/Process.h"

struct TSignalWatch::TState {
  std::function<void()> Stop;
  bool Installed = false;
};

namespace {

// The console's handler runs on a thread the system starts for each event.
std::mutex Lock;
TSignalWatch::TState* Current = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  std::lock_guard lock(Lock);
  if (!Current || !Current->Stop) return FALSE;
  Current->Stop();
  return TRUE;
}

}  // namespace

TSignalWatch::TSignalWatch() : FState(std::make_unique<TState>()) {}

TSignalWatch::~TSignalWatch() {
  if (FState->Installed) SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  std::lock_guard lock(Lock);
  if (Current == FState.get()) Current = nullptr;
}

bool TSignalWatch::OnStop(std::function<void()> handler) {
  {
    std::lock_guard lock(Lock);
    FState->Stop = std::move(handler);
    Current = FState.get();
  }
  if (!FState->Installed) FState->Installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
  return FState->Installed;
}

bool TSignalWatch::OnReport(std::function<void()>) { return false; }

int64_t ThreadCpuMs() {
  FILETIME created, ended, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) return 0;
  auto ticks = [](const FILETIME& t) {
    return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return (ticks(kernel) + ticks(user)) / 10000;  // 100 ns steps
}
