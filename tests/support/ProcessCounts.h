// What a process holds, from /proc: tests that nothing grows over many
// connects, losses and reconnects.
#pragma once

#include <dirent.h>

#include <thread>

namespace test_support {

inline int EntriesIn(const char* folder) {
  int n = 0;
  if (DIR* d = ::opendir(folder)) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
  }
  return n;
}

// ThreadSanitizer's runtime starts a helper thread of its own with the
// program's first thread: one is started and joined before the first count,
// so that every count holds the helper alike.
inline int ThreadCount() {
  static const bool warmedUp = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmedUp;
  return EntriesIn("/proc/self/task");
}

// One more than held while counting: the listing's own descriptor.
inline int FdCount() { return EntriesIn("/proc/self/fd"); }

}  // namespace test_support
