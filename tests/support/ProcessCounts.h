// What a process holds, from /proc: tests that nothing grows over many
// connects, losses and reconnects.
#pragma once

#include <dirent.h>

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

inline int ThreadCount() { return EntriesIn("/proc/self/task"); }
// One more than held while counting: the listing's own descriptor.
inline int FdCount() { return EntriesIn("/proc/self/fd"); }

}  // namespace test_support
