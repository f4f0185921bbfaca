// The port list on Linux: the ttys of sysfs that a driver serves.
#include "serial/SerialPorts.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/UniqueFd.h"

#ifdef __linux__
#include <linux/serial.h>
#endif

namespace {

std::string ReadLink(const std::string& path) {
  char target[4096];
  const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

// Name of the driver behind a tty's device, or "" when it has none.  Newer
// kernels put serial-core ports on their own "serial-base" bus (drivers
// "port" and "ctrl"); the hardware driver is then found further up.
std::string PortDriver(const std::string& ttyDir) {
  std::string device = ttyDir + "/device";
  std::string target = ReadLink(device + "/driver");
  for (int hop = 0; hop < 4 && target.find("/serial-base/") != std::string::npos; ++hop) {
    device += "/..";
    const std::string up = ReadLink(device + "/driver");
    if (up.empty()) break;
    target = up;
  }
  const auto slash = target.find_last_of('/');
  return slash == std::string::npos ? target : target.substr(slash + 1);
}

// The 8250 driver registers its ports whether or not a UART answers; only a
// known UART type means a port is really there.  A port that is busy exists.
bool UartPresent(const std::string& devicePath) {
#ifdef __linux__
  const TUniqueFd fd(::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return errno == EBUSY;
  struct serial_struct info {};
  return ::ioctl(fd.Get(), TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
#else
  (void)devicePath;
  return true;
#endif
}

}  // namespace

std::string ListSerialPorts(const std::string& sysfsRoot) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(sysfsRoot.c_str());
  if (!dir) return {};  // no tty class: no ports
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // Virtual terminals, ptys and the console have no device/driver link.
    const std::string driver = PortDriver(sysfsRoot + "/" + name);
    if (driver.empty()) continue;
    const std::string path = "/dev/" + name;
    if (driver == "serial8250" && !UartPresent(path)) continue;
    names.push_back(path);
  }
  ::closedir(dir);
  return SerialCommaText(names);
}
