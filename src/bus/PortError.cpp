// PortError: why a port failed, and its texts in English and Czech.
#include "bus/PortError.h"

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <vector>

#include "serial/BlockSerial.h"

namespace {

#ifdef _WIN32
// The serial class's codes there are Win32 error numbers.  A port another
// program holds is refused as "access denied": Windows has no device
// permissions a user could be given.
TPortFault OpenFault(int code) {
  switch (code) {
    case 2:     // ERROR_FILE_NOT_FOUND
    case 3:     // ERROR_PATH_NOT_FOUND
    case 433:   // ERROR_NO_SUCH_DEVICE
    case 1167:  // ERROR_DEVICE_NOT_CONNECTED
      return TPortFault::pfMissing;
    case 5:   // ERROR_ACCESS_DENIED
    case 32:  // ERROR_SHARING_VIOLATION
    case ErrorPortOwned:
      return TPortFault::pfBusy;
    default:
      return TPortFault::pfOther;
  }
}
#else
TPortFault OpenFault(int code) {
  switch (code) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return TPortFault::pfMissing;
    case EACCES:
    case EPERM:
      return TPortFault::pfPermission;
    case EBUSY:
    case ErrorPortOwned:
      return TPortFault::pfBusy;
    default:
      return TPortFault::pfOther;
  }
}
#endif

std::string InParentheses(const std::string& text) {
  return text.empty() ? std::string() : " (" + text + ")";
}

#ifndef _WIN32
bool SessionHasGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  const int got = ::getgroups(n, groups.data());
  for (int i = 0; i < got; ++i)
    if (groups[static_cast<size_t>(i)] == gid) return true;
  return false;
}

// By the group database, as the next login will see it.
bool UserInGroup(gid_t gid) {
  struct passwd pw {};
  struct passwd* found = nullptr;
  char buf[4096];
  if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) != 0 || !found) return false;
  if (found->pw_gid == gid) return true;
  int n = 64;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &n) < 0) {
    groups.resize(static_cast<size_t>(n));
    if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &n) < 0) return false;
  }
  for (int i = 0; i < n; ++i)
    if (groups[static_cast<size_t>(i)] == gid) return true;
  return false;
}
#endif

std::string FieldCzech(const TPortError& e) {
  switch (e.RefusedField) {
    case TLineField::lfBaud:
      return "rychlost " + e.RefusedValue + " Bd";
    case TLineField::lfBits:
      return "počet datových bitů " + e.RefusedValue;
    case TLineField::lfStopBits:
      return "stop bity " + e.RefusedValue;
    case TLineField::lfFlow:
      return "řízení toku " + e.RefusedValue;
    default:
      return "nastavení " + e.RefusedValue;
  }
}

std::string FieldEnglish(const TPortError& e) {
  switch (e.RefusedField) {
    case TLineField::lfBaud:
      return "baud rate " + e.RefusedValue;
    case TLineField::lfBits:
      return "data bits " + e.RefusedValue;
    case TLineField::lfStopBits:
      return "stop bits " + e.RefusedValue;
    case TLineField::lfFlow:
      return e.RefusedValue + " flow control";
    default:
      return "line " + e.RefusedValue;
  }
}

std::string HintCzech(const TPermissionHint& h) {
  switch (h.Kind) {
    case TPermissionHint::phJoinGroup:
      return " – uživatel musí být členem skupiny " + h.Group;
    case TPermissionHint::phLogInAgain:
      return " – členství ve skupině " + h.Group + " začne platit po novém přihlášení";
    case TPermissionHint::phUdevRule:
      return " – přístup k zařízení nastavte pravidlem udev (README, oddíl Serial port "
             "permissions)";
    default:
      return {};
  }
}

std::string HintEnglish(const TPermissionHint& h) {
  switch (h.Kind) {
    case TPermissionHint::phJoinGroup:
      return " (join the group " + h.Group + ", then log in again)";
    case TPermissionHint::phLogInAgain:
      return " (the group " + h.Group + " takes effect at the next login)";
    case TPermissionHint::phUdevRule:
      return " (give the device a udev rule: README, \"Serial port permissions\")";
    default:
      return {};
  }
}

}  // namespace

TDeviceAccess DeviceAccessOf(const std::string& devicePath) {
  TDeviceAccess a;
#ifdef _WIN32
  (void)devicePath;  // no device groups there
#else
  struct stat st {};
  if (devicePath.empty() || ::stat(devicePath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return a;
  a.IsDevice = true;
  a.Mode = st.st_mode & 07777;
  a.Gid = st.st_gid;
  struct group gr {};
  struct group* found = nullptr;
  char buf[4096];
  if (::getgrgid_r(st.st_gid, &gr, buf, sizeof buf, &found) == 0 && found)
    a.GroupName = found->gr_name;
  else
    a.GroupName = std::to_string(st.st_gid);
  a.UserInGroup = UserInGroup(st.st_gid);
  a.SessionHasGroup = SessionHasGroup(st.st_gid);
#endif
  return a;
}

TPermissionHint ChoosePermissionHint(const TDeviceAccess& a) {
  TPermissionHint h;
  if (!a.IsDevice) return h;
  h.Group = a.GroupName;
  // Joining helps only a group that may read and write, and never root's.
  const bool groupMayUse = (a.Mode & 060) == 060 && a.Gid != 0;
  if (!groupMayUse || a.SessionHasGroup)
    h.Kind = TPermissionHint::phUdevRule;
  else if (a.UserInGroup)
    h.Kind = TPermissionHint::phLogInAgain;
  else
    h.Kind = TPermissionHint::phJoinGroup;
  return h;
}

TPortError OpenFailure(const std::string& port, const std::string& devicePath, int code,
                       const std::string& text) {
  TPortError e;
  e.Fault = OpenFault(code);
  e.Port = port;
  e.Code = code;
  e.SystemText = text;
  if (e.Fault == TPortFault::pfPermission)
    e.Hint = ChoosePermissionHint(DeviceAccessOf(devicePath));
  return e;
}

std::string QuotedPortName(const std::string& port) {
  bool plain = !port.empty();
  for (unsigned char c : port)
    if (c < 0x20 || c == 0x7F) plain = false;
  if (plain) return port;
  std::string q = "\"";
  for (unsigned char c : port) {
    switch (c) {
      case '\n':
        q += "\\n";
        break;
      case '\t':
        q += "\\t";
        break;
      case '\r':
        q += "\\r";
        break;
      case '"':
        q += "\\\"";
        break;
      case '\\':
        q += "\\\\";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          q += hex;
        } else {
          q += static_cast<char>(c);
        }
    }
  }
  return q + "\"";
}

std::string PortErrorTextCzech(const TPortError& e) {
  const std::string port = QuotedPortName(e.Port);
  const std::string why = InParentheses(e.SystemText);
  switch (e.Fault) {
    case TPortFault::pfNone:
      return {};
    case TPortFault::pfMissing:
      return "Port " + port + " neexistuje" + why;
    case TPortFault::pfPermission:
      return "Port " + port + " nelze otevřít: chybí oprávnění" + why + HintCzech(e.Hint);
    case TPortFault::pfBusy:
      return "Port " + port + " používá jiný program" + why;
    case TPortFault::pfLineRefused:
      return "Port " + port + " nepřijal nastavení linky: " + FieldCzech(e) + why;
    case TPortFault::pfLost:
      return "Spojení s portem " + port + " přerušeno" + why;
    case TPortFault::pfOther:
      break;
  }
  return "Port " + port + " nelze otevřít" + why;
}

std::string PortErrorTextEnglish(const TPortError& e) {
  const std::string port = QuotedPortName(e.Port);
  switch (e.Fault) {
    case TPortFault::pfNone:
      return {};
    case TPortFault::pfBusy:
      return "cannot open port " + port + ": used by another program" + InParentheses(e.SystemText);
    case TPortFault::pfPermission:
      return "cannot open port " + port + ": " + e.SystemText + HintEnglish(e.Hint);
    case TPortFault::pfLineRefused:
      return "cannot configure port " + port + ": " + FieldEnglish(e) + " refused" +
             InParentheses(e.SystemText);
    case TPortFault::pfLost:
      return "port " + port + " lost" + (e.SystemText.empty() ? "" : ": " + e.SystemText);
    default:
      return "cannot open port " + port + ": " + e.SystemText;
  }
}

std::string WaitingTextCzech(const std::string& port) {
  return "Čekám na port " + QuotedPortName(port) + "…";
}
