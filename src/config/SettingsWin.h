// The settings layer's file and folder calls on Windows: UTF-8 names (the
// system's wide calls underneath), binary files, errors as errno values so
// that EIniWriteError reads the same on every platform.
#pragma once
#ifdef _WIN32

#include <cstdint>
#include <ctime>
#include <string>

namespace SettingsWin {

// What the settings layer asks of a file before it reads or replaces it.
struct TFileInfo {
  bool Folder = false;
  bool Regular = false;  // a plain file (not a folder, device or pipe)
  bool ReadOnly = false;
  bool NullDevice = false;  // NUL, the usual way to say "no settings"
  uint64_t Size = 0;
  timespec Written{};
  timespec Created{};
};
// 0, or an errno value (ENOENT: no such file).
int StatUtf8(const std::string& path, TFileInfo& info);
// _wopen with binary mode and no inheritance added to flags; -1 and errno.
int OpenUtf8(const std::string& path, int flags, int mode = 0);

// Where the settings of the program at executablePath live: beside it
// ("C:\x\vVantrelBus.exe" -> "C:\x\vVantrelBus.ini") when its folder is
// writable and not one of the system's program folders, otherwise
// "%APPDATA%\vVantrelBus\vVantrelBus.ini" (UserFolder set).
struct TLocation {
  std::string File;
  std::string UserFolder;  // set when File lies in the per-user folder
};
TLocation Locate(const std::string& executablePath);
std::string ExecutablePath();
// Creates folder and its missing parents; throws EIniWriteError for fileName.
void MakeFolders(const std::string& folder, const std::string& fileName);

}  // namespace SettingsWin

#endif
