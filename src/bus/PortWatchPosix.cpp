// TPathEvents for POSIX: a wake pipe, and on Linux inotify on the folders
// that lead to the watched path.  Every platform call of the port watch is
// here; another platform supplies this class alone.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif

#include <cerrno>
#include <chrono>
#include <climits>
#include <utility>
#include <vector>

#include "base/UniqueFd.h"
#include "bus/PortWatch.h"

namespace {

std::string Folder(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : p.substr(0, slash);
}

std::string Name(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The nearest existing folder on the way to path, and the entry in it whose
// change matters (the name itself, or the next missing folder).
std::pair<std::string, std::string> NearestExisting(const std::string& path) {
  std::string folder = Folder(path), name = Name(path);
  while (!IsFolder(folder) && folder != "/" && folder != ".") {
    name = Name(folder);
    folder = Folder(folder);
  }
  return {folder, name};
}

// Where a link points, relative targets taken from the link's folder.
std::string LinkTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {};
  char buf[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string target(buf, static_cast<size_t>(n));
  return target[0] == '/' ? target : Folder(path) + "/" + target;
}

// The name and every link it leads through, the name first; a loop ends
// where the system would refuse it.
std::vector<std::string> LinkChain(const std::string& path) {
  std::vector<std::string> chain{path};
  for (int hop = 0; hop < 40; ++hop) {
    std::string next = LinkTarget(chain.back());
    if (next.empty()) break;
    chain.push_back(std::move(next));
  }
  return chain;
}

using TWanted = std::vector<std::pair<std::string, std::string>>;

// The entries whose change matters for path: on the way to the name and to
// every link it leads through.
TWanted WantedFor(const std::string& path) {
  TWanted wanted;
  for (const std::string& p : LinkChain(path)) wanted.push_back(NearestExisting(p));
  return wanted;
}

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
  return left <= 0 ? 0 : static_cast<int>(left > INT_MAX ? INT_MAX : left);
}

}  // namespace

struct TPathEvents::TImpl {
  struct TWatched {
    int Wd;
    std::string Folder, Name;
  };
  TUniqueFd Notify;
  TUniqueFd WakeRead, WakeWrite;
  std::vector<TWatched> Watched;
  bool Settled = false;  // the watches cover what the last look found
  std::function<void()> LookHook;

  bool Covers(const TWanted& wanted) const {
    if (wanted.size() != Watched.size()) return false;
    for (size_t i = 0; i < wanted.size(); ++i)
      if (Watched[i].Wd < 0 || Watched[i].Folder != wanted[i].first ||
          Watched[i].Name != wanted[i].second)
        return false;
    return true;
  }

  void Unwatch() {
#ifdef __linux__
    for (const TWatched& w : Watched)
      if (w.Wd >= 0) ::inotify_rm_watch(Notify.Get(), w.Wd);
#endif
    Watched.clear();
  }

  // True when the events read concern a followed entry (or the watches
  // themselves went away and must be set again).
  bool ReadRelevant() {
#ifdef __linux__
    alignas(struct inotify_event) char buf[4096];
    bool relevant = false;
    for (;;) {
      const ssize_t n = ::read(Notify.Get(), buf, sizeof buf);
      if (n <= 0) return relevant || (n < 0 && errno != EAGAIN && errno != EINTR);
      for (ssize_t at = 0; at < n;) {
        const auto* ev = reinterpret_cast<const struct inotify_event*>(buf + at);
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
        if (ev->mask & IN_IGNORED) {
          // A folder that went takes its watch with it: Follow must watch
          // anew even when a folder of the same name is back already.  The
          // watches Follow removed itself say so too; those change nothing.
          for (TWatched& w : Watched)
            if (w.Wd == ev->wd) w.Wd = -1, relevant = true;
          continue;
        }
        if (ev->mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
          relevant = true;
          continue;
        }
        if (ev->len == 0) continue;
        for (const TWatched& w : Watched)
          if (w.Wd == ev->wd && w.Name == ev->name) relevant = true;
      }
    }
#else
    return true;
#endif
  }
};

TPathEvents::TPathEvents() : FImpl(std::make_unique<TImpl>()) {
#ifdef __linux__
  FImpl->Notify.Reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
#endif
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
    FImpl->WakeRead.Reset(wake[0]);
    FImpl->WakeWrite.Reset(wake[1]);
  }
}

TPathEvents::~TPathEvents() = default;

void TPathEvents::Follow(const std::string& path) {
  if (!FImpl->Notify) return;
  // A folder or link made between a look and its watch would never be
  // noticed (udev makes /dev/serial and /dev/serial/by-id one right after
  // the other): look again once watching, until look and watches agree.
  FImpl->Settled = false;
  for (int round = 0; round < 16; ++round) {
    const TWanted wanted = WantedFor(path);
    if (FImpl->Covers(wanted)) {
      FImpl->Settled = true;
      return;
    }
    if (FImpl->LookHook) FImpl->LookHook();
    FImpl->Unwatch();
#ifdef __linux__
    constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                               IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    for (auto& [folder, name] : wanted)
      FImpl->Watched.push_back(
          {::inotify_add_watch(FImpl->Notify.Get(), folder.c_str(), kMask), folder, name});
#endif
  }
  // Still changing: Watching() is false, so the owner checks on a timer.
}

void TPathEvents::SetLookHook(std::function<void()> hook) { FImpl->LookHook = std::move(hook); }

bool TPathEvents::Watching() const {
  if (!FImpl->Notify || FImpl->Watched.empty() || !FImpl->Settled) return false;
  for (const auto& w : FImpl->Watched)
    if (w.Wd < 0) return false;
  return true;
}

void TPathEvents::Wait(int timeoutMs) {
  // Without a wake pipe only a short pause keeps Stop prompt.
  if (!FImpl->WakeRead && (timeoutMs < 0 || timeoutMs > 100)) timeoutMs = 100;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd fds[2] = {{FImpl->WakeRead.Get(), POLLIN, 0}, {FImpl->Notify.Get(), POLLIN, 0}};
    const int r = ::poll(fds, 2, timeoutMs < 0 ? -1 : MillisecondsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return;  // time is up (a failing poll counts as that: the caller paces)
    if (fds[0].revents) {
      char drain[64];
      while (::read(FImpl->WakeRead.Get(), drain, sizeof drain) > 0) {}
      return;
    }
    if ((fds[1].revents & POLLIN) == 0 || FImpl->ReadRelevant()) return;
  }
}

void TPathEvents::Wake() {
  const char c = 1;
  [[maybe_unused]] auto r = ::write(FImpl->WakeWrite.Get(), &c, 1);  // full: a wake-up is pending
}

bool TPathEvents::Exists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

void TPathEvents::NameThisThread() {
#ifdef __linux__
  ::pthread_setname_np(::pthread_self(), "vantrel-watch");
#endif
}

TPathEvents::TIdentity TPathEvents::IdentityOf(const std::string& path) {
  TIdentity id;
  struct stat st {};
  for (const std::string& p : LinkChain(path))
    if (::lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
      id.Links.push_back({uint64_t(st.st_ino), uint64_t(st.st_ctim.tv_sec) * 1000000000u +
                                                   uint64_t(st.st_ctim.tv_nsec)});
#ifdef __linux__
  // The slaves of the system's pseudo-terminals have majors 136 to 143.
  if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
    id.Terminal = ::major(st.st_rdev) >= 136 && ::major(st.st_rdev) <= 143;
#endif
  return id;
}
