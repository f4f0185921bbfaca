// IniFile: a small profile (INI) file layer.
//
//   [Section]
//   Key=Value
//
// - Section and key names match without regard to ASCII case; the first
//   occurrence wins.  Blanks around names and values are ignored on reading,
//   and a value enclosed in one pair of quotes loses them.
// - Lines starting with ';' or '#', blank lines, lines outside any section and
//   keys the program never writes are kept byte for byte on every write.
// - Writing a key replaces its line in place; a new key goes after the last
//   key of its section, a new section at the end of the file.
// - Every write replaces the whole file atomically: a temporary file in the
//   same folder is written, flushed to disk and renamed over the old one, so a
//   crash or a full disk never leaves a truncated file.  A failed write throws
//   EIniWriteError and leaves the file as it was before that write.
// - Reading a missing or unreadable file gives every key its default; only a
//   write creates the file.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// "Unable to write to <file>".  The system's reason is kept apart so that the
// message stays fixed for callers that show or compare it.
class EIniWriteError : public std::runtime_error {
public:
  EIniWriteError(const std::string& fileName, int errorNumber);
  const std::string& FileName() const noexcept { return FFileName; }
  int ErrorNumber() const noexcept { return FErrorNumber; }
  std::string Reason() const;  // the system's text of ErrorNumber()

private:
  std::string FFileName;
  int FErrorNumber;
};

class TIniFile {
public:
  // Reads the file if it exists.  Nothing is created.
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const noexcept { return FFileName; }

  // maxLength limits the returned text (the rest is cut off).
  std::string ReadString(std::string_view section, std::string_view key, const std::string& def,
                         size_t maxLength = std::string::npos) const;
  // The value as ParseInteger reads it; def when it is none.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  // Read as an integer with default 0 or 1; any non-zero integer is true.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;
  bool KeyExists(std::string_view section, std::string_view key) const;

  // One write per call, each an atomic replacement of the file.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);  // "0" / "1"

  // The file's text as the next write would store it.
  std::string Text() const;

private:
  struct TLocation {
    size_t SectionLine = npos;  // header line of the section, npos = none
    size_t KeyLine = npos;      // line of the key, npos = none
    size_t InsertAt = npos;     // where a new key of this section goes
  };
  static constexpr size_t npos = static_cast<size_t>(-1);

  TLocation Find(std::string_view section, std::string_view key) const;
  bool FindValue(std::string_view section, std::string_view key, std::string& value) const;
  void Commit(const std::vector<std::string>& lines) const;

  std::string FFileName;
  std::vector<std::string> FLines;  // without line ends
  bool FCrLf = false;               // the file used "\r\n"; new lines follow it
  bool FFinalNewline = true;        // keep a missing final line end as it was
  int FReadError = 0;               // the file exists but could not be read
};
