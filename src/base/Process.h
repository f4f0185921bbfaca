// What a program asks of its process beyond the C++ library: being told from
// outside to stop or to report, and the processor time of a thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// Requests from outside the program: to stop (SIGINT, SIGTERM; on Windows
// Ctrl+C, Ctrl+Break and closing the console) and to report (SIGUSR1;
// Windows has no such request).  A handler runs on another thread, never
// inside a signal handler: it may post to an event loop, but must not touch
// a window.  One watch at a time; destroying it waits for a handler that
// runs and gives the requests their earlier handling back.
class TSignalWatch {
public:
  TSignalWatch();
  ~TSignalWatch();
  TSignalWatch(const TSignalWatch&) = delete;
  TSignalWatch& operator=(const TSignalWatch&) = delete;

  // Each sets its handler and starts listening for its requests; false when
  // the system refuses or has no such request.
  bool OnStop(std::function<void()> handler);
  bool OnReport(std::function<void()> handler);

  struct TState;

private:
  std::unique_ptr<TState> FState;
};

// Milliseconds of processor time the calling thread has used so far.
int64_t ThreadCpuMs();
