// TPortWatch: waits, on a thread of its own, for a port name to come back
// after its device vanished (a USB adapter pulled and plugged in again, a
// simulated central restarted on the same link).  Nothing is opened here:
// whenever the name may have become openable the owner is told and tries,
// on its own thread, with TakeCheck() saying whether a try is due.
//
//   TPortWatch watch([&] { wake the owner; });   // hook runs on the watch thread
//   watch.Start("/dev/serial/by-id/usb-...");     // owner thread
//   ... owner, woken: if (watch.TakeCheck()) try to open the name ...
//   watch.Stop();                                 // at once, also mid-wait
//
// Waiting costs nothing measurable: the folders on the way to the name are
// watched for changes of the one entry that matters, and only while the name
// exists (a port busy or not yet permitted) is a try due every kRecheckMs.
// Where folders cannot be watched the name is checked every kRecheckMs; a
// missing name is also looked at every kMissingRecheckMs, in case a change
// was never noticed.  Every link on the way (/dev/serial/by-id/... and any
// link it leads to) is followed anew at every check.
//
// A pseudo-terminal never comes back: once its master side closed, its
// number goes to the next one opened anywhere (another program's, a user's
// shell).  So when the lost port was one, a try is due only once the name is
// a link made anew (a simulated central started again on the same link).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// The platform part: change notices for the folders that lead to a path, and
// a wake-up.  Linux: inotify and a pipe; without them only the time-out and
// the wake-up work (Windows: an event, and COM ports checked by name).  One
// owner thread uses it, Wake() may come from any.
class TPathEvents {
public:
  TPathEvents();
  ~TPathEvents();
  TPathEvents(const TPathEvents&) = delete;
  TPathEvents& operator=(const TPathEvents&) = delete;

  // Watches the nearest existing folder on the way to path and, when path is
  // a link, the ones on the way to every link it leads through; again after
  // every change.
  void Follow(const std::string& path);
  // For tests: runs in Follow after each look, before its watches are set.
  void SetLookHook(std::function<void()> hook);
  // True while changes of the followed path are noticed.
  bool Watching() const;
  // Until a change of the followed path, Wake() or timeoutMs (-1: no limit).
  void Wait(int timeoutMs);
  void Wake();
  // The path leads to something that exists (links followed).
  static bool Exists(const std::string& path);
  // Names the calling thread so that it can be told from the reader's
  // ("vantrel-watch" in /proc/PID/task/*/comm).
  static void NameThisThread();

  // What a port name is now: the links it leads through (none when it is
  // no link) and whether it ends at a pseudo-terminal.
  struct TIdentity {
    struct TLink {
      uint64_t Inode = 0, Changed = 0;  // the link's inode and change time (ns)
      bool operator==(const TLink&) const = default;
    };
    std::vector<TLink> Links;  // the named link first
    bool Terminal = false;
    // Some link on the way was made anew since lost was taken.
    bool HasNewLink(const TIdentity& lost) const;
  };
  static TIdentity IdentityOf(const std::string& path);

private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

class TPortWatch {
public:
  static constexpr int kRecheckMs = 500;
  static constexpr int kMissingRecheckMs = 5000;

  // onCheck: called on the watch thread whenever a try is due.
  explicit TPortWatch(std::function<void()> onCheck);
  ~TPortWatch();
  TPortWatch(const TPortWatch&) = delete;
  TPortWatch& operator=(const TPortWatch&) = delete;

  // Starts watching path (a running watch is stopped first); lost: what the
  // name was while its port was open.
  void Start(const std::string& path, const TPathEvents::TIdentity& lost = {});
  // Ends the watch at once and joins its thread; afterwards the hook is
  // neither running nor called again.  Safe to repeat.
  void Stop();
  bool Running() const { return FThread.joinable(); }
  // True once for every due try since the last call.
  bool TakeCheck() { return FCheckDue.exchange(false); }

  // For tests, before Start: the pause between looks at a missing name (-1:
  // none), and a hook run between a look at the folders and their watches.
  void SetMissingRecheck(int ms) { FMissingRecheckMs = ms; }
  void SetLookHook(std::function<void()> hook) { FLookHook = std::move(hook); }

private:
  void Run(std::string path, TPathEvents::TIdentity lost);

  std::function<void()> FOnCheck;
  std::function<void()> FLookHook;
  int FMissingRecheckMs = kMissingRecheckMs;
  std::unique_ptr<TPathEvents> FEvents;
  std::thread FThread;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FCheckDue{false};
};
