// The settings layer's file and folder calls on Windows.
#include "config/SettingsWin.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cwchar>

#include "base/WideText.h"
#include "config/IniFile.h"

namespace SettingsWin {

namespace {

constexpr const char* kUserFolderName = "vVantrelBus";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

size_t NameStart(const std::string& path) {
  const size_t sep = path.find_last_of("\\/:");
  return sep == std::string::npos ? 0 : sep + 1;
}

// The last extension of the file name is replaced; a name without one gets
// ".ini" appended.
std::string WithIniExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot > NameStart(path)) return path.substr(0, dot) + ".ini";
  return path + ".ini";
}

std::string FolderOf(const std::string& path) {
  const size_t start = NameStart(path);
  if (start == 0) return ".";
  std::string folder = path.substr(0, start);
  // "C:\" and "\" stay roots; "C:\x\" loses its separator.
  if (folder.size() > 1 && IsSeparator(folder.back()) && folder[folder.size() - 2] != ':')
    folder.pop_back();
  return folder;
}

std::string Environment(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value ? Narrow(value) : std::string();
}

bool IsAbsolute(const std::string& path) {
  return (path.size() >= 3 && path[1] == ':' && IsSeparator(path[2])) ||
         (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]));
}

// The folder is inside parent (both absolute, compared without regard to case).
bool Inside(const std::string& folder, std::string parent) {
  while (!parent.empty() && IsSeparator(parent.back())) parent.pop_back();
  if (parent.empty() || folder.size() < parent.size()) return false;
  if (CompareStringOrdinal(Widen(folder.substr(0, parent.size())).c_str(), -1,
                           Widen(parent).c_str(), -1, TRUE) != CSTR_EQUAL)
    return false;
  return folder.size() == parent.size() || IsSeparator(folder[parent.size()]);
}

// Program Files, the per-user programs folder (where an installer without
// administrator rights puts a program) and the Windows folder count as not
// writable even where they are: settings do not belong among installed
// programs, and an uninstaller must find none there.
bool IsSystemProgramFolder(const std::string& folder) {
  for (const wchar_t* name :
       {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432", L"SystemRoot"}) {
    const std::string root = Environment(name);
    if (IsAbsolute(root) && Inside(folder, root)) return true;
  }
  const std::string local = Environment(L"LOCALAPPDATA");
  return IsAbsolute(local) && Inside(folder, local + "\\Programs");
}

// A folder's access rights are not what its attributes say: try a file.
bool FolderWritable(const std::string& folder) {
  const std::wstring probe =
      Widen(folder + "\\.vVantrelBus-" + std::to_string(GetCurrentProcessId()) + ".tmp");
  HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

timespec FromFileTime(const FILETIME& t) {
  // 100 ns steps since 1601 to the Unix epoch.
  const uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  const uint64_t unix = ticks >= 116444736000000000ull ? ticks - 116444736000000000ull : 0;
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(unix / 10000000ull);
  ts.tv_nsec = static_cast<long>((unix % 10000000ull) * 100);
  return ts;
}

}  // namespace

int StatUtf8(const std::string& path, TFileInfo& info) {
  info = TFileInfo{};
  std::string name = path.substr(NameStart(path));
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name == "NUL") {
    info.NullDevice = true;
    return 0;
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data))
    return ErrnoOfWinError(GetLastError());
  info.Folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.Regular = !info.Folder && !(data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE);
  info.ReadOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  info.Size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  info.Written = FromFileTime(data.ftLastWriteTime);
  info.Created = FromFileTime(data.ftCreationTime);
  return 0;
}

int OpenUtf8(const std::string& path, int flags, int mode) {
  return _wopen(Widen(path).c_str(), flags | _O_BINARY | _O_NOINHERIT, mode);
}

std::string ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return "vVantrelBus";  // beside the working folder
    if (n < path.size()) {
      path.resize(n);
      return Narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

TLocation Locate(const std::string& executablePath) {
  const std::string beside = WithIniExtension(executablePath);
  const std::string folder = FolderOf(beside);
  if (!IsSystemProgramFolder(folder) && FolderWritable(folder)) return {beside, {}};
  std::string appData = Environment(L"APPDATA");
  if (!IsAbsolute(appData)) return {beside, {}};  // saving then fails with the usual error
  while (IsSeparator(appData.back())) appData.pop_back();
  const std::string userFolder = appData + "\\" + kUserFolderName;
  return {userFolder + "\\" + beside.substr(NameStart(beside)), userFolder};
}

void MakeFolders(const std::string& folder, const std::string& fileName) {
  // Every parent from the first folder below the root ("C:\" or
  // "\\server\share\") downwards.
  size_t pos = 0;
  if (folder.size() >= 2 && IsSeparator(folder[0]) && IsSeparator(folder[1])) {
    pos = folder.find_first_of("\\/", 2);                                      // after the server
    if (pos != std::string::npos) pos = folder.find_first_of("\\/", pos + 1);  // after the share
  } else {
    pos = folder.find_first_of("\\/");
  }
  while (pos != std::string::npos) {
    pos = folder.find_first_of("\\/", pos + 1);
    const std::string part = folder.substr(0, pos);
    if (!CreateDirectoryW(Widen(part).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      throw EIniWriteError(fileName, ErrnoOfWinError(GetLastError()));
  }
  const DWORD attributes = GetFileAttributesW(Widen(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    throw EIniWriteError(fileName, ErrnoOfWinError(GetLastError()));
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) throw EIniWriteError(fileName, ENOTDIR);
}

}  // namespace SettingsWin
