// Settings: the settings record loaded from and saved to its INI file.
#include "config/Settings.h"

#include "config/IniFile.h"

#ifdef _WIN32
#include "config/SettingsWin.h"
#else
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <tuple>
#include <utility>

TSettings Settings;
TMonitorSettings MonitorSettings;

namespace {

std::string FileNameOverride;

constexpr const char* Comm = "Comm";
constexpr const char* Central = "Central";
constexpr const char* Monitor = "Monitor";
constexpr size_t MonitorTextMaxLength = 4096;

// The file as this program last read or wrote it.
TIniFileStamp LastStamp;
constexpr size_t PortMaxLength = 2047;

#ifdef _WIN32
// Beside the .exe, or in %APPDATA%: SettingsWin.cpp.
using SettingsWin::ExecutablePath;
using SettingsWin::Locate;
using SettingsWin::MakeFolders;
using SettingsWin::TLocation;
constexpr const char* kPathSeparators = "\\/:";
#else
constexpr const char* kPathSeparators = "/";

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

#endif

TLocation CurrentLocation() {
  if (!FileNameOverride.empty()) return {FileNameOverride, {}};
  return Locate(ExecutablePath());
}

#ifndef _WIN32
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
#endif

// MonitorSettings as last read or saved: a save writes only what the window
// changed since, so that another window's changes to the other keys stay.
TMonitorSettings MonitorSettingsRead;

void ReadAnalysisSettings(const TIniFile& ini, TAnalysisSettings& a) {
  const TAnalysisSettings def;
  auto number = [&ini](const char* key, int fallback, int low, int high) {
    const int v = ini.ReadInteger(Monitor, key, fallback);
    return v >= low && v <= high ? v : fallback;
  };
  a.SilenceLimit = number("SilenceLimit", def.SilenceLimit, 1, 86400);
  a.LoadLimit = number("LoadLimit", def.LoadLimit, 1, 1000);
  a.BurstBytes = number("BurstBytes", def.BurstBytes, 1, 1 << 20);
  a.TriggerEvents =
      ini.ReadString(Monitor, "TriggerEvents", def.TriggerEvents, MonitorTextMaxLength);
  a.TriggerPattern =
      ini.ReadString(Monitor, "TriggerPattern", def.TriggerPattern, MonitorTextMaxLength);
  a.TriggerActions =
      ini.ReadString(Monitor, "TriggerActions", def.TriggerActions, MonitorTextMaxLength);
  a.TriggerBeep = ini.ReadBool(Monitor, "TriggerBeep", def.TriggerBeep);
  a.TriggerNotify = ini.ReadBool(Monitor, "TriggerNotify", def.TriggerNotify);
  a.Analyser = ini.ReadBool(Monitor, "Analyser", def.Analyser);
}

void ReadMonitorSettings(const TIniFile& ini) {
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
  m.CaptureFolder = text("CaptureFolder", def.CaptureFolder);
  m.SessionStore = ini.ReadInteger(Monitor, "SessionStore", def.SessionStore);
  m.SessionsKept = ini.ReadInteger(Monitor, "SessionsKept", def.SessionsKept);
  m.SessionLimitMB = ini.ReadInteger(Monitor, "SessionLimitMB", def.SessionLimitMB);
  m.TextFolder = text("TextFolder", def.TextFolder);
  m.GraphFolder = text("GraphFolder", def.GraphFolder);
  m.Split = text("Split", def.Split);
  ReadAnalysisSettings(ini, m.Analysis);
  MonitorSettingsRead = m;
}

}  // namespace

void LoadAnalysisSettings() {
  ReadAnalysisSettings(TIniFile(SettingsFileName()), MonitorSettings.Analysis);
  MonitorSettingsRead.Analysis = MonitorSettings.Analysis;
}

std::string DefaultSettingsFileName(const std::string& executablePath) {
  return Locate(executablePath).File;
}

std::string SiblingProgramPath(const std::string& selfPath, const std::string& programName) {
  const size_t slash = selfPath.find_last_of(kPathSeparators);
  if (slash == std::string::npos) return programName;
  const std::string folder = selfPath.substr(0, slash + 1);
  const std::string beside = folder + programName;
#ifndef _WIN32
  // A build tree keeps the window in src/app and the tools in tools.
  const std::string inBuildTree = folder + "../src/app/" + programName;
  if (::access(beside.c_str(), X_OK) != 0 && ::access(inBuildTree.c_str(), X_OK) == 0)
    return inBuildTree;
#endif
  return beside;
}

std::string SiblingSettingsFileName(const std::string& programName) {
  return DefaultSettingsFileName(SiblingProgramPath(ExecutablePath(), programName));
}

std::string SettingsFileName() { return CurrentLocation().File; }

void SetSettingsFileName(const std::string& path) { FileNameOverride = path; }

int LoadSettings() {
  const TSettings def;
  RemoveStaleIniTempFiles(SettingsFileName());
  TIniFile ini(SettingsFileName());
  Settings.Port = ini.ReadString(Comm, "Port", def.Port, PortMaxLength);
  Settings.Baud = ini.ReadInteger(Comm, "Baud", def.Baud);
  Settings.Parity = ini.ReadInteger(Comm, "Parity", def.Parity);
  Settings.Bits = ini.ReadInteger(Comm, "Bits", def.Bits);
  Settings.StopBit = ini.ReadInteger(Comm, "StopBit", def.StopBit);
  Settings.SoftFlow = ini.ReadBool(Comm, "SoftFlow", def.SoftFlow);
  Settings.HardFlow = ini.ReadBool(Comm, "HardFlow", def.HardFlow);
  Settings.SleepTimeout = ini.ReadInteger(Comm, "SleepTimeout", def.SleepTimeout);
  Settings.RecvTimeout = ini.ReadInteger(Comm, "RecvTimeout", def.RecvTimeout);
  Settings.WaitTimeout = ini.ReadInteger(Comm, "WaitTimeout", def.WaitTimeout);
  Settings.AppID = ini.ReadInteger(Central, "AppID", def.AppID);
  Settings.MaxLoko = ini.ReadInteger(Central, "MaxLoko", def.MaxLoko);
  Settings.Reconnect = ini.ReadBool(Monitor, "Reconnect", def.Reconnect);
  ReadMonitorSettings(ini);
  LastStamp = ini.Stamp();
  return ini.ReadError();
}

void LoadMonitorSettings() { ReadMonitorSettings(TIniFile(SettingsFileName())); }

void SaveMonitorSettings() {
  TIniFile ini(SettingsFileName());
  if (!ini.Stamp().Exists) return;
  const TMonitorSettings& m = MonitorSettings;
  const TMonitorSettings& was = MonitorSettingsRead;
  // Key, value, and the value when last read: only what changed since is
  // written (and only where the file does not have it already).
  const std::tuple<const char*, std::string, std::string> values[] = {
      {"View", m.View, was.View},
      {"TimeMode", m.TimeMode, was.TimeMode},
      {"Kinds", m.Kinds, was.Kinds},
      {"Devices", m.Devices, was.Devices},
      {"Filter", m.Filter, was.Filter},
      {"TrafficColumns", m.TrafficColumns, was.TrafficColumns},
      {"GridColumns", m.GridColumns, was.GridColumns},
      {"RingSize", std::to_string(m.RingSize), std::to_string(was.RingSize)},
      {"CaptureFolder", m.CaptureFolder, was.CaptureFolder},
      {"SessionStore", std::to_string(m.SessionStore), std::to_string(was.SessionStore)},
      {"SessionsKept", std::to_string(m.SessionsKept), std::to_string(was.SessionsKept)},
      {"SessionLimitMB", std::to_string(m.SessionLimitMB), std::to_string(was.SessionLimitMB)},
      {"TextFolder", m.TextFolder, was.TextFolder},
      {"GraphFolder", m.GraphFolder, was.GraphFolder},
      {"Split", m.Split, was.Split},
      {"TriggerEvents", m.Analysis.TriggerEvents, was.Analysis.TriggerEvents},
      {"TriggerPattern", m.Analysis.TriggerPattern, was.Analysis.TriggerPattern},
      {"TriggerActions", m.Analysis.TriggerActions, was.Analysis.TriggerActions},
      {"TriggerBeep", std::to_string(int{m.Analysis.TriggerBeep}),
       std::to_string(int{was.Analysis.TriggerBeep})},
      {"TriggerNotify", std::to_string(int{m.Analysis.TriggerNotify}),
       std::to_string(int{was.Analysis.TriggerNotify})}};
  bool changed = false;
  for (const auto& [key, value, read] : values) {
    if (value == read) continue;
    if (ini.KeyExists(Monitor, key) &&
        ini.ReadString(Monitor, key, "", MonitorTextMaxLength) == value)
      continue;
    ini.SetString(Monitor, key, value);
    changed = true;
  }
  if (changed) ini.UpdateFile();
  MonitorSettingsRead = m;
}

void SaveSettings() {
  const TLocation where = CurrentLocation();
  if (!where.UserFolder.empty()) MakeFolders(where.UserFolder, where.File);
  TIniFile ini(where.File);
  ini.SetString(Comm, "Port", Settings.Port);
  ini.SetInteger(Comm, "Baud", Settings.Baud);
  ini.SetInteger(Comm, "Parity", Settings.Parity);
  ini.SetInteger(Comm, "Bits", Settings.Bits);
  ini.SetInteger(Comm, "StopBit", Settings.StopBit);
  ini.SetBool(Comm, "SoftFlow", Settings.SoftFlow);
  ini.SetBool(Comm, "HardFlow", Settings.HardFlow);
  ini.SetInteger(Central, "AppID", Settings.AppID);
  ini.SetInteger(Central, "MaxLoko", Settings.MaxLoko);
  ini.SetBool(Monitor, "Reconnect", Settings.Reconnect);
  ini.UpdateFile();
  LastStamp = ini.Stamp();
}

bool SettingsFileChanged() { return !(IniFileStampOf(SettingsFileName()) == LastStamp); }

bool LoadWindowPlacement(TWindowPlacement& placement) {
  TIniFile ini(SettingsFileName());
  if (!ini.KeyExists(Monitor, "Width") || !ini.KeyExists(Monitor, "Height")) return false;
  TWindowPlacement p;
  p.Left = ini.ReadInteger(Monitor, "Left", 0);
  p.Top = ini.ReadInteger(Monitor, "Top", 0);
  p.Width = ini.ReadInteger(Monitor, "Width", 0);
  p.Height = ini.ReadInteger(Monitor, "Height", 0);
  p.Maximized = ini.ReadBool(Monitor, "Maximized", false);
  // Sizes no screen has mean a damaged or hand-made entry.
  constexpr int kMinSize = 100, kMaxSize = 100000;
  if (p.Width < kMinSize || p.Height < kMinSize || p.Width > kMaxSize || p.Height > kMaxSize ||
      p.Left < -kMaxSize || p.Left > kMaxSize || p.Top < -kMaxSize || p.Top > kMaxSize)
    return false;
  placement = p;
  return true;
}

void SaveWindowPlacement(const TWindowPlacement& p) {
  TIniFile ini(SettingsFileName());
  if (!ini.Stamp().Exists) return;
  const std::pair<const char*, int> values[] = {{"Left", p.Left},
                                                {"Top", p.Top},
                                                {"Width", p.Width},
                                                {"Height", p.Height},
                                                {"Maximized", p.Maximized ? 1 : 0}};
  bool changed = false;
  for (const auto& [key, value] : values) {
    if (ini.KeyExists(Monitor, key) && ini.ReadInteger(Monitor, key, ~value) == value) continue;
    ini.SetInteger(Monitor, key, value);
    changed = true;
  }
  if (changed) ini.UpdateFile();
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
