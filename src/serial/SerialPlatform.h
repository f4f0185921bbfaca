// What the platform-neutral part of TBlockSerial (BlockSerial.cpp) needs from
// the platform layer besides the Os* members: the platform's own numbers for
// the few system errors the class reports by itself, the last-error number,
// the system's error texts and the device a port name opens.  Implemented by
// BlockSerialPosix.cpp or BlockSerialWin.cpp; not part of the public header.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
constexpr int kOsBadHandle = 6;      // ERROR_INVALID_HANDLE: no port open
constexpr int kOsBadParameter = 87;  // ERROR_INVALID_PARAMETER
constexpr int kOsHungUp = 1167;      // ERROR_DEVICE_NOT_CONNECTED: the line ended
#else
#include <cerrno>
constexpr int kOsBadHandle = EBADF;
constexpr int kOsBadParameter = EINVAL;
constexpr int kOsHungUp = EIO;  // what a hung-up tty reports on every later call
#endif

// The calling thread's last system error number, and setting it to 0.
int OsLastError();
void OsClearLastError();

// The system's text for an error number in the user's language (UTF-8), with
// trailing blanks, line breaks and full stops removed; empty when the system
// has none.
std::string OsErrorText(int code);

// True for the errors that mean the device itself has gone (unplugged, hung
// up): the port is then marked lost.
bool OsMeansPortGone(int code);

// The device opened for a port name whose parsed PortNumber is portNumber
// (comName: the name begins with "COM").
std::string OsDevicePath(const std::string& name, int32_t portNumber, bool comName);
