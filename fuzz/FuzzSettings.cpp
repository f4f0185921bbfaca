// Loading arbitrary INI file contents: never crashes, and every value is its
// default or what the file says (checked against a second reading of the
// same file through the profile layer).
#include "config/IniFile.h"
#include "config/Settings.h"

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    char name[] = "/tmp/vantrel-fuzz-XXXXXX.ini";
    const int fd = mkstemps(name, 4);
    if (fd < 0) std::abort();
    close(fd);
    return std::string(name);
  }();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  SetSettingsFileName(path);
  LoadSettings();

  TIniFile ini(path);
  if (Settings.Port != ini.ReadString("Comm", "Port", "COM1")) std::abort();
  if (Settings.Port.size() > 2047) std::abort();
  if (Settings.Baud != ini.ReadInteger("Comm", "Baud", 9600) ||
      Settings.MaxLoko != ini.ReadInteger("Central", "MaxLoko", 16) ||
      Settings.RecvTimeout != ini.ReadInteger("Comm", "RecvTimeout", 500))
    std::abort();
  if (Settings.SoftFlow != (ini.ReadInteger("Comm", "SoftFlow", 0) != 0)) std::abort();
  const std::string letter = ParityLetter(Settings.Parity);
  if (letter.size() != 1 || std::string("NOEMS").find(letter) == std::string::npos) std::abort();
  return 0;
}
