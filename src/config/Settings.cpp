#include "config/Settings.h"

#include "config/IniFile.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdlib>

TSettings Settings;
TMonitorSettings MonitorSettings;

namespace {

std::string FileNameOverride;

constexpr const char* Comm = "Comm";
constexpr const char* Central = "Central";
constexpr const char* Monitor = "Monitor";
constexpr size_t MonitorTextMaxLength = 4096;
constexpr size_t PortMaxLength = 2047;

std::string ExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "vVantrelBus";  // no /proc: beside the working folder
  return std::string(buf, static_cast<size_t>(n));
}

// The last extension of the file name part is replaced; a name without one
// (or a hidden file's leading dot) gets ".ini" appended.
std::string WithIniExtension(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot > nameStart) return path.substr(0, dot) + ".ini";
  return path + ".ini";
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsAbsolute(const char* path) { return path && path[0] == '/'; }

bool IsSystemProgramFolder(const std::string& folder) {
  for (const char* root : {"/usr", "/bin", "/sbin"})
    if (folder == root || folder.starts_with(std::string(root) + "/")) return true;
  return false;
}

// $XDG_CONFIG_HOME, else ~/.config (HOME, else the password database); a
// relative $XDG_CONFIG_HOME is ignored as the XDG rules ask.  Empty when no
// home folder is known.
std::string ConfigHome() {
  auto trimmed = [](std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
  };
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (IsAbsolute(xdg)) return trimmed(xdg);
  const char* home = std::getenv("HOME");
  if (IsAbsolute(home)) return trimmed(home) + "/.config";
  struct passwd pw {};
  struct passwd* found = nullptr;
  char buf[4096];
  if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found &&
      IsAbsolute(found->pw_dir))
    return trimmed(found->pw_dir) + "/.config";
  return {};
}

constexpr const char* UserFolderName = "vVantrelBus";

struct TLocation {
  std::string File;
  std::string UserFolder;  // set when File lies in the per-user folder
};

TLocation Locate(const std::string& executablePath) {
  const std::string beside = WithIniExtension(executablePath);
  // A writable folder keeps the file beside the program (a build folder, or a
  // copy the user unpacked); the atomic replacement needs the folder itself
  // to be writable, not just the file.  The system's program folders count as
  // not writable even for root, so that running the installed program with
  // sudo leaves no file among the packaged ones.
  const std::string folder = FolderOf(beside);
  if (!IsSystemProgramFolder(folder) && ::access(folder.c_str(), W_OK) == 0) return {beside, {}};
  const std::string config = ConfigHome();
  if (config.empty()) return {beside, {}};
  const std::string userFolder = (config == "/" ? "" : config) + "/" + UserFolderName;
  const size_t slash = beside.rfind('/');
  return {userFolder + "/" + (slash == std::string::npos ? beside : beside.substr(slash + 1)),
          userFolder};
}

TLocation CurrentLocation() {
  if (!FileNameOverride.empty()) return {FileNameOverride, {}};
  return Locate(ExecutablePath());
}

// Creates folder and its missing parents, private to the user like the XDG
// base folders.
void MakeFolders(const std::string& folder, const std::string& fileName) {
  for (size_t pos = 1;; ++pos) {
    pos = folder.find('/', pos);
    const std::string part = folder.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) throw EIniWriteError(fileName, errno);
    if (pos == std::string::npos) break;
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) throw EIniWriteError(fileName, errno);
  if (!S_ISDIR(st.st_mode)) throw EIniWriteError(fileName, ENOTDIR);
}

}  // namespace

std::string DefaultSettingsFileName(const std::string& executablePath) {
  return Locate(executablePath).File;
}

std::string SiblingSettingsFileName(const std::string& programName) {
  const std::string self = ExecutablePath();
  const size_t slash = self.rfind('/');
  return DefaultSettingsFileName(
      slash == std::string::npos ? programName : self.substr(0, slash + 1) + programName);
}

std::string SettingsFileName() { return CurrentLocation().File; }

void SetSettingsFileName(const std::string& path) { FileNameOverride = path; }

void LoadSettings() {
  Settings.Baud = 9600;
  Settings.Parity = 0;
  Settings.Bits = 8;
  Settings.StopBit = 0;

  TIniFile ini(SettingsFileName());
  Settings.Port = ini.ReadString(Comm, "Port", "COM1", PortMaxLength);
  Settings.Baud = ini.ReadInteger(Comm, "Baud", Settings.Baud);
  Settings.Parity = ini.ReadInteger(Comm, "Parity", Settings.Parity);
  Settings.Bits = ini.ReadInteger(Comm, "Bits", Settings.Bits);
  Settings.StopBit = ini.ReadInteger(Comm, "StopBit", Settings.StopBit);
  Settings.SoftFlow = ini.ReadBool(Comm, "SoftFlow", false);
  Settings.HardFlow = ini.ReadBool(Comm, "HardFlow", false);
  Settings.SleepTimeout = ini.ReadInteger(Comm, "SleepTimeout", 10);
  Settings.RecvTimeout = ini.ReadInteger(Comm, "RecvTimeout", 500);
  Settings.WaitTimeout = ini.ReadInteger(Comm, "WaitTimeout", 50);
  Settings.AppID = ini.ReadInteger(Central, "AppID", 1);
  Settings.MaxLoko = ini.ReadInteger(Central, "MaxLoko", 16);
  LoadMonitorSettings();
}

void LoadMonitorSettings() {
  const TIniFile ini(SettingsFileName());
  const TMonitorSettings def;
  TMonitorSettings& m = MonitorSettings;
  auto text = [&ini](const char* key, const std::string& fallback) {
    return ini.ReadString(Monitor, key, fallback, MonitorTextMaxLength);
  };
  m.View = text("View", def.View);
  m.TimeMode = text("TimeMode", def.TimeMode);
  m.Kinds = text("Kinds", def.Kinds);
  m.Devices = text("Devices", def.Devices);
  m.Filter = text("Filter", def.Filter);
  m.TrafficColumns = text("TrafficColumns", def.TrafficColumns);
  m.GridColumns = text("GridColumns", def.GridColumns);
  m.RingSize = ini.ReadInteger(Monitor, "RingSize", def.RingSize);
}

void SaveMonitorSettings() {
  const TLocation where = CurrentLocation();
  TIniFile ini(where.File);
  const TMonitorSettings& m = MonitorSettings;
  // Each write replaces the file: only what changed is written, so closing
  // an unchanged window costs nothing and creates no file.
  auto text = [&](const char* key, const std::string& value, const std::string& def) {
    if (ini.ReadString(Monitor, key, def, MonitorTextMaxLength) == value) return;
    if (!where.UserFolder.empty()) MakeFolders(where.UserFolder, where.File);
    ini.WriteString(Monitor, key, value);
  };
  const TMonitorSettings def;
  text("View", m.View, def.View);
  text("TimeMode", m.TimeMode, def.TimeMode);
  text("Kinds", m.Kinds, def.Kinds);
  text("Devices", m.Devices, def.Devices);
  text("Filter", m.Filter, def.Filter);
  text("TrafficColumns", m.TrafficColumns, def.TrafficColumns);
  text("GridColumns", m.GridColumns, def.GridColumns);
  text("RingSize", std::to_string(m.RingSize), std::to_string(def.RingSize));
}

void SaveSettings() {
  const TLocation where = CurrentLocation();
  if (!where.UserFolder.empty()) MakeFolders(where.UserFolder, where.File);
  TIniFile ini(where.File);
  ini.WriteString(Comm, "Port", Settings.Port);
  ini.WriteInteger(Comm, "Baud", Settings.Baud);
  ini.WriteInteger(Comm, "Parity", Settings.Parity);
  ini.WriteInteger(Comm, "Bits", Settings.Bits);
  ini.WriteInteger(Comm, "StopBit", Settings.StopBit);
  ini.WriteBool(Comm, "SoftFlow", Settings.SoftFlow);
  ini.WriteBool(Comm, "HardFlow", Settings.HardFlow);
  ini.WriteInteger(Central, "AppID", Settings.AppID);
  ini.WriteInteger(Central, "MaxLoko", Settings.MaxLoko);
}

std::string ParityLetter(int index) {
  switch (index) {
    case 1:
      return "O";
    case 2:
      return "E";
    case 3:
      return "M";
    case 4:
      return "S";
    default:
      return "N";
  }
}

std::string SettingsToText(const TSettings& s) {
  std::string t;
  auto line = [&t](const char* key, const std::string& value) {
    t += key;
    t += '=';
    t += value;
    t += '\n';
  };
  auto num = [](int v) { return std::to_string(v); };
  line("Port", s.Port);
  line("Baud", num(s.Baud));
  line("Parity", num(s.Parity));
  line("Bits", num(s.Bits));
  line("StopBit", num(s.StopBit));
  line("SoftFlow", s.SoftFlow ? "1" : "0");
  line("HardFlow", s.HardFlow ? "1" : "0");
  line("SleepTimeout", num(s.SleepTimeout));
  line("RecvTimeout", num(s.RecvTimeout));
  line("WaitTimeout", num(s.WaitTimeout));
  line("AppID", num(s.AppID));
  line("MaxLoko", num(s.MaxLoko));
  return t;
}
