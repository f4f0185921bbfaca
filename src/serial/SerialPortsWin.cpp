// The port list on Windows: the serial device map of the registry, where each
// value's data is a port name (COM1).
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/WideText.h"
#include "serial/SerialPorts.h"

namespace {

class TKey {
public:
  explicit TKey(const std::string& path) {
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Widen(path).c_str(), 0, KEY_READ, &FKey) != ERROR_SUCCESS)
      FKey = nullptr;
  }
  ~TKey() {
    if (FKey) RegCloseKey(FKey);
  }
  TKey(const TKey&) = delete;
  TKey& operator=(const TKey&) = delete;
  HKEY Get() const { return FKey; }

private:
  HKEY FKey = nullptr;
};

// A value's data as a string: size 0 gives "", a string is cut at its first
// zero character, any other type is an error.
std::string ReadString(HKEY key, const std::wstring& name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      size == 0)
    return {};
  std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
  DWORD got = size;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                       &got) != ERROR_SUCCESS)
    throw ERegistryError("Failed to get data for '" + Narrow(name) + "'");
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw ERegistryError("Invalid data type for '" + Narrow(name) + "'");
  data.resize(std::min<size_t>(data.size(), got / sizeof(wchar_t)));
  const size_t zero = data.find(L'\0');
  if (zero != std::wstring::npos) data.resize(zero);
  return Narrow(data);
}

}  // namespace

std::string ListSerialPorts(const std::string& registryKey, const std::string&) {
  TKey key(registryKey);
  if (!key.Get()) return {};  // no serial ports at all
  DWORD count = 0;
  DWORD longestName = 0;
  if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                       &longestName, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return {};
  std::vector<std::string> names;
  std::wstring name;
  for (DWORD i = 0; i < count; ++i) {
    name.assign(longestName + 1, L'\0');
    DWORD length = longestName + 1;
    if (RegEnumValueW(key.Get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      continue;  // removed meanwhile
    name.resize(length);
    names.push_back(ReadString(key.Get(), name));
  }
  return SerialCommaText(names);
}
