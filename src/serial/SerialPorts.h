// The serial ports present on this machine, as the configuration dialog
// offers them.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
// Where the platform lists its ports: a registry key under
// HKEY_LOCAL_MACHINE, or the sysfs tty class.
inline constexpr const char* kSerialPortSource = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
#else
inline constexpr const char* kSerialPortSource = "/sys/class/tty";
#endif

#ifdef _WIN32
// Comma text of the port names listed under HKEY_LOCAL_MACHINE\<registryKey>
// (read-only), in the registry's own order, unsorted, empty entries kept.  A
// missing or unreadable key gives "".  A value that is not a string throws
// ERegistryError "Invalid data type for '<name>'", one that cannot be read
// "Failed to get data for '<name>'".
std::string ListSerialPorts(const std::string& registryKey = kSerialPortSource);
#else
// Comma text of the ports present, "/dev/<name>" in the directory's order:
// every tty under sysfsRoot bound to a driver; serial8250 ports only when the
// UART type is known (the driver creates its ports whether or not hardware is
// there).
std::string ListSerialPorts(const std::string& sysfsRoot = kSerialPortSource);
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
