// The serial ports present on this machine, as the configuration dialog
// offers them.
#pragma once

#include <string>
#include <vector>

// Comma text of the ports present: first the links of byIdFolder (named after
// the adapter, they survive re-plugging), then "/dev/<name>" of every tty
// under sysfsRoot bound to a driver, each in its directory's order.
// serial8250 ports only when sysfs knows their UART type (the driver creates
// its ports whether or not hardware is there).  No port is opened.
std::string ListSerialPorts(const std::string& sysfsRoot = "/sys/class/tty",
                            const std::string& byIdFolder = "/dev/serial/by-id");

// Names joined by commas; a name holding a blank, a control character, a comma
// or a double quote is put in double quotes with inner quotes doubled.  A list
// of one empty name gives "" so that it reads back as one item.
std::string SerialCommaText(const std::vector<std::string>& names);
