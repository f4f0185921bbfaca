#include "config/Settings.h"

#include "config/IniFile.h"

#include <climits>
#include <unistd.h>

TSettings Settings;

namespace {

std::string FileNameOverride;

constexpr const char* Comm = "Comm";
constexpr const char* Central = "Central";
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

}  // namespace

std::string SettingsFileName() {
  if (!FileNameOverride.empty()) return FileNameOverride;
  return WithIniExtension(ExecutablePath());
}

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
}

void SaveSettings() {
  TIniFile ini(SettingsFileName());
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
    case 1: return "O";
    case 2: return "E";
    case 3: return "M";
    case 4: return "S";
    default: return "N";
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
