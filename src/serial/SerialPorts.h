// The serial ports present on this machine, as the configuration dialog
// offers them.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// Where the platform lists its ports: a registry key under
// HKEY_LOCAL_MACHINE, or the sysfs tty class.
#ifdef _WIN32
inline constexpr const char* kSerialPortSource = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
#else
inline constexpr const char* kSerialPortSource = "/sys/class/tty";
#endif

#ifdef _WIN32
// Comma text of the port names listed under HKEY_LOCAL_MACHINE\<registryKey>
// (read-only), in the registry's own order, unsorted, empty entries kept.  A
// missing or unreadable key gives "".  A value that is not a string throws
// ERegistryError "Invalid data type for '<name>'", one that cannot be read
// "Failed to get data for '<name>'".  Windows has no by-id links: the second
// argument, the dialog's as on Linux, is not used.
std::string ListSerialPorts(const std::string& registryKey = kSerialPortSource,
                            const std::string& byIdFolder = {});
#else
// Comma text of the ports present: first the links of byIdFolder (named after
// the adapter, they survive re-plugging), then "/dev/<name>" of every tty
// under sysfsRoot bound to a driver, each in its directory's order.
// serial8250 ports only when sysfs knows their UART type (the driver creates
// its ports whether or not hardware is there).  No port is opened.
std::string ListSerialPorts(const std::string& sysfsRoot = kSerialPortSource,
                            const std::string& byIdFolder = "/dev/serial/by-id");
#endif

// A registry value the port list cannot take.
class ERegistryError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Names joined by commas; a name holding a blank, a control character, a comma
// or a double quote is put in double quotes with inner quotes doubled.  A list
// of one empty name gives "" so that it reads back as one item.
std::string SerialCommaText(const std::vector<std::string>& names);
