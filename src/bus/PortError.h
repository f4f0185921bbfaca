// PortError: why a port could not be opened, configured or kept, described
// so that each monitor can word it for its user: the window in Czech,
// vantrel-dump in English.  Both name the port and put the serial class's own
// text after the cause; the serial class keeps its texts unchanged.
#pragma once

#include <string>

enum class TPortFault {
  pfNone,
  pfMissing,      // no such port (ENOENT, ENODEV, ENXIO at open)
  pfPermission,   // the user may not open it
  pfBusy,         // another program holds it
  pfLineRefused,  // opened, but a line setting was refused (RefusedField)
  pfLost,         // it vanished while being read
  pfOther         // anything else: the system's text says what
};

// The line setting a port refused.
enum class TLineField { lfNone, lfBaud, lfBits, lfStopBits, lfFlow, lfLine };

// What helps when a device file may not be opened.
struct TPermissionHint {
  enum TKind {
    phNone,        // no device file, or nothing to suggest
    phJoinGroup,   // the device's group may read and write: join it
    phLogInAgain,  // the user is in that group, but this session started before
    phUdevRule     // the group cannot read and write (or is root): a udev rule
  } Kind = phNone;
  std::string Group;  // the device's group, by name (its number when unnamed)
};

struct TPortError {
  TPortFault Fault = TPortFault::pfNone;
  std::string Port;        // the name as the user gave it
  int Code = 0;            // the serial class's LastErrorCode
  std::string SystemText;  // the serial class's LastErrorText
  TLineField RefusedField = TLineField::lfNone;
  std::string RefusedValue;  // e.g. "9" (bits), "115200" (baud), "9600 8N1" (line)
  TPermissionHint Hint;
};

// An open that failed with the serial class's code and text; devicePath is
// the file actually opened (its owner and mode choose the permission hint).
TPortError OpenFailure(const std::string& port, const std::string& devicePath, int code,
                       const std::string& text);

// The device's access as the hint needs it; separate so it can be tested
// without a device of each kind.
struct TDeviceAccess {
  bool IsDevice = false;
  unsigned Mode = 0;  // permission bits
  unsigned Gid = 0;
  std::string GroupName;
  bool UserInGroup = false;      // by the group database
  bool SessionHasGroup = false;  // among this process's groups
};
TDeviceAccess DeviceAccessOf(const std::string& devicePath);
TPermissionHint ChoosePermissionHint(const TDeviceAccess& access);

// The port's name as it can stand in a one-line message: unchanged when it
// is printable, otherwise in double quotes with C escapes (\n, \t, \", \\,
// \xHH), so that a name holding a newline cannot split the message.
std::string QuotedPortName(const std::string& port);

// "Port /dev/ttyUSB0 neexistuje (No such file or directory)".
std::string PortErrorTextCzech(const TPortError& e);
// "cannot open port /dev/ttyUSB0: No such file or directory".
std::string PortErrorTextEnglish(const TPortError& e);
// "Čekám na port /dev/ttyUSB0…"
std::string WaitingTextCzech(const std::string& port);
