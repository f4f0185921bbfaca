// IniFile: a small profile (INI) file layer.
//
//   [Section]
//   Key=Value
//
// - Section and key names match without regard to ASCII case; the first
//   occurrence wins.  Blanks around names and values are ignored on reading,
//   and a value enclosed in one pair of quotes loses them.
// - Lines starting with ';' or '#', blank lines, lines outside any section and
//   keys the program never writes are kept byte for byte on every write; so is
//   a UTF-8 byte-order mark at the start of the file.
// - Read as the platform's profile routines read it: a file that starts with
//   a UTF-16 byte-order mark is UTF-16 (and is written back so), a lone CR
//   ends a line too, "[Name" without its "]" starts no section, and a value
//   ends at a NUL byte.
// - Writing a key replaces its line in place; a new key goes after the last
//   key of its section, a new section at the end of the file.
// - Every write replaces the whole file atomically: a temporary file in the
//   same folder is written, flushed to disk and renamed over the old one, so a
//   crash or a full disk never leaves a truncated file.  A failed write throws
//   EIniWriteError and leaves the file as it was, with no temporary file.
//   Several keys go in one replacement with the Set... calls and UpdateFile().
// - Only a regular file of at most kIniMaxFileSize bytes is read: a device, a
//   FIFO or a huge file is refused before reading (ReadError()), and such a
//   file is never written either.
// - Reading a missing or unreadable file gives every key its default; only a
//   write creates the file.
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Error numbers of the settings file besides the system's errno values.
constexpr int kIniNotRegularFile = -1;  // a device, FIFO or socket
constexpr int kIniFileTooLarge = -2;    // more than kIniMaxFileSize bytes
constexpr int kIniFileReadOnly = -3;    // the file may not be written by this user
constexpr int kIniFolderReadOnly = -4;  // no file can be created in its folder
constexpr int kIniBadValue = -5;        // a name or value that would break the file's lines
constexpr long kIniMaxFileSize = 1024 * 1024;

// The reason for an error number: IniErrorText in English (the system's text
// for errno values), IniErrorTextCzech for the user (UTF-8; the system's text
// where no Czech one is known).
std::string IniErrorText(int errorNumber);
std::string IniErrorTextCzech(int errorNumber);

// What a file was when last read or written: a change of any field means
// someone else replaced or edited it.
struct TIniFileStamp {
  bool Exists = false;
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = 0;
  timespec Modified{};
  timespec Changed{};
  bool operator==(const TIniFileStamp& other) const;
};
// The file's stamp now (links followed).
TIniFileStamp IniFileStampOf(const std::string& fileName);

// Removes what saves of the file killed before their rename left behind
// (temporary files of processes that no longer run).  Every save does this
// too.
void RemoveStaleIniTempFiles(const std::string& fileName);

// "Unable to write to <file>".  The system's reason is kept apart so that the
// message stays fixed for callers that show or compare it.
class EIniWriteError : public std::runtime_error {
public:
  EIniWriteError(const std::string& fileName, int errorNumber);
  const std::string& FileName() const noexcept { return FFileName; }
  int ErrorNumber() const noexcept { return FErrorNumber; }
  std::string Reason() const;  // IniErrorText(ErrorNumber())

private:
  std::string FFileName;
  int FErrorNumber;
};

class TIniFile {
public:
  // Reads the file if it exists.  Nothing is created.
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const noexcept { return FFileName; }
  // 0 when the file was read or does not exist; otherwise why it was not
  // read (an errno value, kIniNotRegularFile or kIniFileTooLarge).
  int ReadError() const noexcept { return FReadError; }
  // The file as it was read (or written last through this object).
  const TIniFileStamp& Stamp() const noexcept { return FStamp; }

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

  // The same in memory only; UpdateFile() writes them all in one replacement.
  // SetString throws EIniWriteError (kIniBadValue) for a value or name with a
  // line break and the like, before anything is written.
  void SetString(std::string_view section, std::string_view key, std::string_view value);
  void SetInteger(std::string_view section, std::string_view key, int32_t value);
  void SetBool(std::string_view section, std::string_view key, bool value);
  void UpdateFile();

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
  void CheckWritable() const;
  std::string Join(const std::vector<std::string>& lines) const;
  void Commit(const std::vector<std::string>& lines);

  std::string FFileName;
  std::vector<std::string> FLines;  // without line ends
  std::string FLineEnd = "\n";      // the file's first line end; every line gets it
  enum TEncoding { teUtf8, teUtf8Mark, teUtf16Le, teUtf16Be } FEncoding = teUtf8;
  int FReadError = 0;  // the file exists but could not be read
  TIniFileStamp FStamp;
};
