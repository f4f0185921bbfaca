// The process's signals, thread times and stall probe on POSIX.
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/Process.h"
#include "base/UniqueFd.h"

namespace {

// The sending end of the watch's socket pair, for the signal handler.
std::atomic<int> WakeFd{-1};

void OnSignal(int signal) {
  const int err = errno;
  const char c = static_cast<char>(signal);
  // Never blocks, never raises SIGPIPE once the watch is going away.
  [[maybe_unused]] auto n = ::send(WakeFd.load(), &c, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
  errno = err;
}

}  // namespace

struct TSignalWatch::TState {
  TUniqueFd Receive, Send;
  std::thread Thread;
  std::mutex Lock;
  std::function<void()> Stop, Report;
  std::vector<std::pair<int, struct sigaction>> Saved;  // the handling before

  bool Listen(std::initializer_list<int> signals);
  void Run();
};

bool TSignalWatch::TState::Listen(std::initializer_list<int> signals) {
  if (!Thread.joinable()) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
    Receive.Reset(pair[0]);
    Send.Reset(pair[1]);
    WakeFd = Send.Get();
    Thread = std::thread([this] { Run(); });
  }
  for (const int signal : signals) {
    struct sigaction sa {
    }, before{};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    if (::sigaction(signal, &sa, &before) != 0) return false;
    Saved.emplace_back(signal, before);
  }
  return true;
}

void TSignalWatch::TState::Run() {
#ifdef __linux__
  // A name of its own: tools that look for the program's threads by name
  // (the reader keeps the program's) must not count this one.
  ::pthread_setname_np(::pthread_self(), "SignalWatch");
#endif
  for (;;) {
    char c;
    const ssize_t n = ::recv(Receive.Get(), &c, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the watch is going away
    std::lock_guard lock(Lock);
    const std::function<void()>& handler = c == SIGUSR1 ? Report : Stop;
    if (handler) handler();
  }
}

TSignalWatch::TSignalWatch() : FState(std::make_unique<TState>()) {}

TSignalWatch::~TSignalWatch() {
  // Newest first, so that a signal set up twice ends with its first handling.
  for (auto it = FState->Saved.rbegin(); it != FState->Saved.rend(); ++it)
    ::sigaction(it->first, &it->second, nullptr);
  {
    std::lock_guard lock(FState->Lock);
    FState->Stop = FState->Report = nullptr;
  }
  if (FState->Thread.joinable()) {
    ::shutdown(FState->Send.Get(), SHUT_WR);  // the thread reads the end
    FState->Thread.join();
  }
  WakeFd = -1;
}

bool TSignalWatch::OnStop(std::function<void()> handler) {
  {
    std::lock_guard lock(FState->Lock);
    FState->Stop = std::move(handler);
  }
  return FState->Listen({SIGINT, SIGTERM});
}

bool TSignalWatch::OnReport(std::function<void()> handler) {
  {
    std::lock_guard lock(FState->Lock);
    FState->Report = std::move(handler);
  }
  return FState->Listen({SIGUSR1});
}

int64_t ThreadCpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
