#include "serial/SerialPorts.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "base/UniqueFd.h"

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
// known UART type means a port is really there.  The serial core shows the
// type in sysfs (0: none), so no port has to be opened to ask, which would
// raise the modem lines of a port the user never chose.
bool UartPresent(const std::string& ttyDir) {
  const TUniqueFd fd(::open((ttyDir + "/type").c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  char text[16] = {};
  const ssize_t n = ::read(fd.Get(), text, sizeof text - 1);
  return n > 0 && std::strtol(text, nullptr, 10) > 0;
}

bool NeedsQuotes(const std::string& s) {
  for (const unsigned char c : s)
    if (c <= ' ' || c == ',' || c == '"') return true;
  return false;
}

}  // namespace

std::string SerialCommaText(const std::vector<std::string>& names) {
  if (names.size() == 1 && names[0].empty()) return "\"\"";
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) out += ',';
    const std::string& s = names[i];
    if (!NeedsQuotes(s)) {
      out += s;
      continue;
    }
    out += '"';
    for (const char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

std::string ListSerialPorts(const std::string& sysfsRoot, const std::string& byIdFolder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(byIdFolder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(byIdFolder + "/" + name);
    }
    ::closedir(dir);
  }
  DIR* dir = ::opendir(sysfsRoot.c_str());
  if (!dir) return SerialCommaText(names);  // no tty class: no ports
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // Virtual terminals, ptys and the console have no device/driver link.
    const std::string driver = PortDriver(sysfsRoot + "/" + name);
    if (driver.empty()) continue;
    if (driver == "serial8250" && !UartPresent(sysfsRoot + "/" + name)) continue;
    names.push_back("/dev/" + name);
  }
  ::closedir(dir);
  return SerialCommaText(names);
}
