// IniFile: reading and writing profile (INI) files.
#include "config/IniFile.h"

#ifdef _WIN32
#include <io.h>

#include "config/SettingsWin.h"
#else
#include <unistd.h>
#endif
#include <fcntl.h>
#include <sys/stat.h>
#include <cerrno>

#include "base/SaveFile.h"
#include "base/Text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// What one line of the file is.
struct TLine {
  enum TKind { lkOther, lkSection, lkKey } Kind = lkOther;
  std::string_view Name;   // section or key name, trimmed
  std::string_view Value;  // key value, trimmed
};

TLine ParseLine(std::string_view line) {
  TLine r;
  std::string_view s = Trim(line);
  if (s.empty() || s.front() == ';' || s.front() == '#') return r;
  // A header without its closing bracket starts no section: the platform's
  // profile routines read it as a line of the section it stands in.
  if (s.front() == '[') {
    if (size_t close = s.find(']'); close != std::string_view::npos) {
      r.Kind = TLine::lkSection;
      r.Name = Trim(s.substr(1, close - 1));
      return r;
    }
  }
  size_t eq = s.find('=');
  if (eq == std::string_view::npos) return r;
  r.Kind = TLine::lkKey;
  r.Name = Trim(s.substr(0, eq));
  r.Value = Trim(s.substr(eq + 1));
  return r;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE", kUtf16BeMark = "\xFE\xFF";

// UTF-16 (a Windows editor's "Unicode") to UTF-8 and back.  A lone
// surrogate goes through as its own three bytes, so that a save gives it
// back unchanged.
std::string Utf16ToUtf8(std::string_view data, bool bigEndian) {
  std::string out;
  out.reserve(data.size());
  auto unit = [&](size_t i) {
    const auto a = static_cast<unsigned char>(data[i]), b = static_cast<unsigned char>(data[i + 1]);
    return bigEndian ? char32_t(a << 8 | b) : char32_t(b << 8 | a);
  };
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < data.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | c >> 6), out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | c >> 12), out += char(0x80 | (c >> 6 & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | c >> 18), out += char(0x80 | (c >> 12 & 0x3F));
      out += char(0x80 | (c >> 6 & 0x3F)), out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Utf8ToUtf16(std::string_view text, bool bigEndian) {
  std::string out;
  out.reserve(text.size() * 2);
  auto put = [&](char32_t u) {
    const char hi = char(u >> 8 & 0xFF), lo = char(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  };
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    char32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
    bool valid = n != 0 && i + n <= text.size();
    for (size_t k = 1; valid && k < n; ++k) {
      const auto t = static_cast<unsigned char>(text[i + k]);
      valid = (t & 0xC0) == 0x80;
      c = c << 6 | (t & 0x3F);
    }
    if (!valid) {
      put(0xFFFD);
      ++i;
      continue;
    }
    i += n;
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

#ifdef _WIN32
// The file calls on Windows, SettingsWin.cpp: UTF-8 names, no links followed.
using SettingsWin::TFileInfo;

int Refusal(const TFileInfo& info) {
  if (info.Folder) return EISDIR;
  if (!info.Regular) return kIniNotRegularFile;
  if (info.Size > static_cast<uint64_t>(kIniMaxFileSize)) return kIniFileTooLarge;
  return 0;
}

TIniFileStamp StampOf(const TFileInfo& info) {
  TIniFileStamp s;
  s.Exists = true;
  s.Size = static_cast<off_t>(info.Size);
  s.Modified = info.Written;
  s.Changed = info.Created;
  return s;
}
#else
// Why a file that exists is not read or written as settings: only a regular
// file of sensible size is (reading a device or a FIFO may never end).
int Refusal(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return kIniNotRegularFile;
  if (st.st_size > kIniMaxFileSize) return kIniFileTooLarge;
  return 0;
}

bool IsNullDevice(const struct stat& st) {
  struct stat null {};
  return S_ISCHR(st.st_mode) && ::stat("/dev/null", &null) == 0 && st.st_rdev == null.st_rdev;
}

TIniFileStamp StampOf(const struct stat& st) {
  TIniFileStamp s;
  s.Exists = true;
  s.Device = st.st_dev;
  s.Inode = st.st_ino;
  s.Size = st.st_size;
  s.Modified = st.st_mtim;
  s.Changed = st.st_ctim;
  return s;
}
#endif

}  // namespace

bool TIniFileStamp::operator==(const TIniFileStamp& o) const {
  if (Exists != o.Exists) return false;
  return !Exists ||
         (Device == o.Device && Inode == o.Inode && Size == o.Size &&
          Modified.tv_sec == o.Modified.tv_sec && Modified.tv_nsec == o.Modified.tv_nsec &&
          Changed.tv_sec == o.Changed.tv_sec && Changed.tv_nsec == o.Changed.tv_nsec);
}

void RemoveStaleIniTempFiles(const std::string& fileName) {
  std::string file;
  if (FollowLinks(fileName, file) == 0) RemoveStaleSaveTemps(file);
}

#ifdef _WIN32
TIniFileStamp IniFileStampOf(const std::string& fileName) {
  TFileInfo info;
  return SettingsWin::StatUtf8(fileName, info) == 0 ? StampOf(info) : TIniFileStamp{};
}
#else
TIniFileStamp IniFileStampOf(const std::string& fileName) {
  struct stat st {};
  return ::stat(fileName.c_str(), &st) == 0 ? StampOf(st) : TIniFileStamp{};
}
#endif

std::string IniErrorText(int errorNumber) {
  switch (errorNumber) {
    case kIniNotRegularFile:
      return "not a regular file";
    case kIniFileTooLarge:
      return "larger than 1 MiB";
    case kIniFileReadOnly:
      return "the file is read-only";
    case kIniFolderReadOnly:
      return "its folder is not writable";
    case kIniBadValue:
      return "a value or name holds a line break or a reserved character";
    default:
      return SystemErrorText(errorNumber);
  }
}

std::string IniErrorTextCzech(int errorNumber) {
  switch (errorNumber) {
    case kIniNotRegularFile:
      return "není to obyčejný soubor";
    case kIniFileTooLarge:
      return "soubor je větší než 1 MiB";
    case kIniFileReadOnly:
      return "soubor je jen pro čtení";
    case kIniFolderReadOnly:
      return "do složky nelze zapisovat";
    case kIniBadValue:
      return "hodnota obsahuje konec řádku nebo nepovolený znak";
    case ENOSPC:
      return "plný disk";
#ifdef EDQUOT
    case EDQUOT:
      return "vyčerpaná disková kvóta";
#endif
    case EROFS:
      return "disk je připojen jen pro čtení";
    case EACCES:
    case EPERM:
      return "přístup odepřen";
    case ENOENT:
      return "složka neexistuje";
    case ENOTDIR:
      return "část cesty není složka";
    case EISDIR:
      return "je to složka, ne soubor";
    case EFBIG:
      return "soubor je příliš velký";
    case EIO:
      return "chyba čtení nebo zápisu na disku";
    case ELOOP:
      return "příliš mnoho symbolických odkazů";
    case ENAMETOOLONG:
      return "příliš dlouhá cesta";
    default:
      return SystemErrorText(errorNumber);
  }
}

EIniWriteError::EIniWriteError(const std::string& fileName, int errorNumber)
    : std::runtime_error("Unable to write to " + fileName),
      FFileName(fileName),
      FErrorNumber(errorNumber) {}

std::string EIniWriteError::Reason() const { return IniErrorText(FErrorNumber); }

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {
#ifdef _WIN32
  TFileInfo info;
  if (const int err = SettingsWin::StatUtf8(FFileName, info)) {
    if (err != ENOENT && err != ENOTDIR) FReadError = err;
    return;
  }
  FStamp = StampOf(info);
  if (info.NullDevice) return;
  if ((FReadError = Refusal(info)) != 0) return;
  int fd = SettingsWin::OpenUtf8(FFileName, O_RDONLY);
  if (fd < 0) {
    FReadError = errno == ENOENT ? 0 : errno;
    FStamp = {};
    return;
  }
#else
  // Looked at before it is opened: opening a FIFO waits for a writer, and
  // opening a serial device may change its modem lines.
  struct stat st {};
  if (::stat(FFileName.c_str(), &st) != 0) {
    // A path through a plain file names no file either; saving reports it.
    if (errno != ENOENT && errno != ENOTDIR) FReadError = errno;
    return;
  }
  FStamp = StampOf(st);
  // The null device is the usual way to say "no settings" (scripts, tests):
  // it reads as an empty file, and saving to it is still refused.
  if (IsNullDevice(st)) return;
  if ((FReadError = Refusal(st)) != 0) return;
  // Non-blocking, in case it was replaced by a FIFO since.
  int fd = ::open(FFileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    FReadError = errno == ENOENT ? 0 : errno;
    FStamp = {};
    return;
  }
  if (::fstat(fd, &st) != 0 || (FReadError = Refusal(st)) != 0) {
    if (FReadError == 0) FReadError = errno;
    ::close(fd);
    return;
  }
  FStamp = StampOf(st);
#endif
  std::string data;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      FReadError = errno;
      break;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
    if (data.size() > static_cast<size_t>(kIniMaxFileSize)) {  // grew while being read
      FReadError = kIniFileTooLarge;
      break;
    }
  }
  ::close(fd);
  if (FReadError != 0) return;

  const std::string_view head(data);
  if (head.starts_with(kByteOrderMark)) {
    FEncoding = teUtf8Mark;
    data.erase(0, kByteOrderMark.size());
  } else if (head.starts_with(kUtf16LeMark) || head.starts_with(kUtf16BeMark)) {
    FEncoding = head.starts_with(kUtf16LeMark) ? teUtf16Le : teUtf16Be;
    data = Utf16ToUtf8(head.substr(2), FEncoding == teUtf16Be);
  }
  // Line ends as the platform's profile routines take them: CR LF, LF, or a
  // lone CR.  The first one found is what new lines get.
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = data.size();
    size_t next = end + 1;
    if (end < data.size() && data[end] == '\r' && next < data.size() && data[next] == '\n') ++next;
    if (FLines.empty() && end < data.size()) FLineEnd = data.substr(end, next - end);
    FLines.push_back(data.substr(pos, end - pos));
    pos = next;
  }
}

TIniFile::TLocation TIniFile::Find(std::string_view section, std::string_view key) const {
  TLocation loc;
  for (size_t i = 0; i < FLines.size(); ++i) {
    TLine l = ParseLine(FLines[i]);
    if (l.Kind == TLine::lkSection) {
      if (loc.SectionLine != npos) break;  // left the first matching section
      if (SameName(l.Name, section)) {
        loc.SectionLine = i;
        loc.InsertAt = i + 1;
      }
    } else if (l.Kind == TLine::lkKey && loc.SectionLine != npos) {
      loc.InsertAt = i + 1;
      if (loc.KeyLine == npos && SameName(l.Name, key)) loc.KeyLine = i;
    }
  }
  return loc;
}

bool TIniFile::FindValue(std::string_view section, std::string_view key, std::string& value) const {
  TLocation loc = Find(section, key);
  if (loc.KeyLine == npos) return false;
  std::string_view v = ParseLine(FLines[loc.KeyLine]).Value;
  // The platform hands values on as C strings: a NUL ends them.
  if (const size_t nul = v.find('\0'); nul != std::string_view::npos) v = Trim(v.substr(0, nul));
  if (v.size() >= 2 &&
      ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
    v = v.substr(1, v.size() - 2);
  value.assign(v);
  return true;
}

bool TIniFile::KeyExists(std::string_view section, std::string_view key) const {
  return Find(section, key).KeyLine != npos;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& def, size_t maxLength) const {
  std::string v;
  if (!FindValue(section, key, v)) v = def;
  if (v.size() > maxLength) v.resize(maxLength);
  return v;
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  std::string v;
  int32_t r;
  if (FindValue(section, key, v) && ParseInteger(v, r)) return r;
  return def;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
  // A line break, or a name the reader would parse differently, would change
  // the file's structure instead of storing the value.
  if (HasLineBreak(value) || HasLineBreak(key) || HasLineBreak(section) || Trim(key).empty() ||
      key.find('=') != std::string_view::npos || Trim(section).empty() ||
      section.find(']') != std::string_view::npos)
    throw EIniWriteError(FFileName, kIniBadValue);

  TLocation loc = Find(section, key);
  std::string entry;
  if (loc.KeyLine != npos) {
    // Keep the key as the file spells it.
    entry.assign(ParseLine(FLines[loc.KeyLine]).Name);
    entry += '=';
    entry += value;
    FLines[loc.KeyLine] = std::move(entry);
  } else {
    entry.assign(Trim(key));
    entry += '=';
    entry += value;
    if (loc.SectionLine != npos) {
      FLines.insert(FLines.begin() + static_cast<ptrdiff_t>(loc.InsertAt), std::move(entry));
    } else {
      FLines.push_back("[" + std::string(Trim(section)) + "]");
      FLines.push_back(std::move(entry));
    }
  }
}

void TIniFile::SetInteger(std::string_view section, std::string_view key, int32_t value) {
  SetString(section, key, std::to_string(value));
}

void TIniFile::SetBool(std::string_view section, std::string_view key, bool value) {
  SetString(section, key, value ? "1" : "0");
}

void TIniFile::UpdateFile() { Commit(FLines); }

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  CheckWritable();
  std::vector<std::string> before = FLines;
  try {
    SetString(section, key, value);
    Commit(FLines);
  } catch (...) {
    FLines = std::move(before);
    throw;
  }
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

std::string TIniFile::Join(const std::vector<std::string>& lines) const {
  std::string text(FEncoding == teUtf8Mark ? kByteOrderMark : std::string_view());
  for (const std::string& l : lines) {
    text += l;
    text += FLineEnd;
  }
  if (FEncoding != teUtf16Le && FEncoding != teUtf16Be) return text;
  const bool bigEndian = FEncoding == teUtf16Be;
  return std::string(bigEndian ? kUtf16BeMark : kUtf16LeMark) + Utf8ToUtf16(text, bigEndian);
}

std::string TIniFile::Text() const { return Join(FLines); }

void TIniFile::CheckWritable() const {
  // A file that exists but could not be read (or was refused) must not be
  // replaced by what little we know of it.
  if (FReadError != 0) throw EIniWriteError(FFileName, FReadError);
}

void TIniFile::Commit(const std::vector<std::string>& lines) {
  CheckWritable();
  const std::string text = Join(lines);
#ifdef _WIN32
  // No links to follow; attributes and rights of a new file are the
  // folder's to give.
  const std::string& target = FFileName;
  TFileInfo info;
  const int statError = SettingsWin::StatUtf8(target, info);
  if (statError != 0 && statError != ENOENT) throw EIniWriteError(FFileName, statError);
  const bool exists = statError == 0;
  if (exists) {
    if (int refused = Refusal(info)) throw EIniWriteError(FFileName, refused);
    if (info.ReadOnly) throw EIniWriteError(FFileName, kIniFileReadOnly);
  }
  // A file refused later is one that became read-only or is held open.
  const bool refusalIsReadOnly = exists;
#else
  std::string target;
  if (int err = FollowLinks(FFileName, target)) throw EIniWriteError(FFileName, err);
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) throw EIniWriteError(FFileName, errno);
  if (exists) {
    if (int refused = Refusal(st)) throw EIniWriteError(FFileName, refused);
    // Replacing needs only the folder to be writable; the file's own
    // permission decides whether this user may change it.
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
      throw EIniWriteError(FFileName, errno == EACCES || errno == EPERM ? kIniFileReadOnly : errno);
  }
  const bool refusalIsReadOnly = false;  // the file's own permission was asked above
#endif
  const TSaveResult saved =
      SaveFileWhole(target, [&](TFileSink& file) { return file.Write(text); });
  if (!saved) {
    int err = saved.Error;
    if (err == EACCES && saved.Step == TSaveStep::ssCreate)
      err = kIniFolderReadOnly;
    else if (err == EACCES && refusalIsReadOnly)
      err = kIniFileReadOnly;
    throw EIniWriteError(FFileName, err);
  }
  FStamp = IniFileStampOf(target);
}
