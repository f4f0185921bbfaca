// Whether the machine is saturated: more processes want to run than it has
// cores (the one-minute load average above the core count).  A test whose
// timing bound is its behaviour judges that bound only where it can hold; a
// saturated machine holds a process back for a second and more.
#pragma once

#include <cstdlib>
#include <thread>

namespace test_support {

inline bool MachineSaturated() {
  double load[1] = {0};
  const unsigned cores = std::thread::hardware_concurrency();
  return ::getloadavg(load, 1) == 1 && cores > 0 && load[0] > static_cast<double>(cores);
}

}  // namespace test_support
