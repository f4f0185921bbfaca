// The serial ports present on this machine, as the configuration dialog
// offers them.
#pragma once

#include <string>
#include <vector>

// Comma text of the ports present, "/dev/<name>" in the directory's order:
// every tty under sysfsRoot bound to a driver; serial8250 ports only when the
// UART type is known (the driver creates its ports whether or not hardware is
// there).
std::string ListSerialPorts(const std::string& sysfsRoot = "/sys/class/tty");

// Names joined by commas; a name holding a blank, a control character, a comma
// or a double quote is put in double quotes with inner quotes doubled.  A list
// of one empty name gives "" so that it reads back as one item.
std::string SerialCommaText(const std::vector<std::string>& names);
