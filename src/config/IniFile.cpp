#include "config/IniFile.h"

#ifdef _WIN32
#include <io.h>

#include "config/SettingsWin.h"
#endif
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "base/Text.h"
#include "base/UniqueFd.h"

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
  if (s.front() == '[') {
    s.remove_prefix(1);
    size_t close = s.find(']');
    r.Kind = TLine::lkSection;
    r.Name = Trim(close == std::string_view::npos ? s : s.substr(0, close));
    return r;
  }
  size_t eq = s.find('=');
  if (eq == std::string_view::npos) return r;
  r.Kind = TLine::lkKey;
  r.Name = Trim(s.substr(0, eq));
  r.Value = Trim(s.substr(eq + 1));
  return r;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

EIniWriteError::EIniWriteError(const std::string& fileName, int errorNumber)
    : std::runtime_error("Unable to write to " + fileName),
      FFileName(fileName),
      FErrorNumber(errorNumber) {}

std::string EIniWriteError::Reason() const { return SystemErrorText(FErrorNumber); }

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {
#ifdef _WIN32
  int fd = SettingsWin::OpenUtf8(FFileName, O_RDONLY);
#else
  int fd = ::open(FFileName.c_str(), O_RDONLY | O_CLOEXEC);
#endif
  if (fd < 0) {
    if (errno != ENOENT) FReadError = errno;
    return;
  }
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
  }
  ::close(fd);
  if (FReadError != 0) return;

  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find('\n', pos);
    if (end == std::string::npos) end = data.size();
    std::string line = data.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      if (FLines.empty()) FCrLf = true;
    }
    FLines.push_back(std::move(line));
    pos = end + 1;
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

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  // A file that exists but could not be read must not be replaced by what
  // little we know of it.
  if (FReadError != 0) throw EIniWriteError(FFileName, FReadError);
  // A line break, or a name the reader would parse differently, would change
  // the file's structure instead of storing the value.
  if (HasLineBreak(value) || HasLineBreak(key) || HasLineBreak(section) || Trim(key).empty() ||
      key.find('=') != std::string_view::npos || Trim(section).empty() ||
      section.find(']') != std::string_view::npos)
    throw EIniWriteError(FFileName, EINVAL);

  std::vector<std::string> lines = FLines;
  TLocation loc = Find(section, key);
  std::string entry;
  if (loc.KeyLine != npos) {
    // Keep the key as the file spells it.
    entry.assign(ParseLine(FLines[loc.KeyLine]).Name);
    entry += '=';
    entry += value;
    lines[loc.KeyLine] = std::move(entry);
  } else {
    entry.assign(Trim(key));
    entry += '=';
    entry += value;
    if (loc.SectionLine != npos) {
      lines.insert(lines.begin() + static_cast<ptrdiff_t>(loc.InsertAt), std::move(entry));
    } else {
      lines.push_back("[" + std::string(Trim(section)) + "]");
      lines.push_back(std::move(entry));
    }
  }
  Commit(lines);
  FLines = std::move(lines);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

std::string TIniFile::Text() const {
  const char* eol = FCrLf ? "\r\n" : "\n";
  std::string text;
  for (const std::string& l : FLines) {
    text += l;
    text += eol;
  }
  return text;
}

void TIniFile::Commit(const std::vector<std::string>& lines) const {
  const char* eol = FCrLf ? "\r\n" : "\n";
  std::string text;
  for (const std::string& l : lines) {
    text += l;
    text += eol;
  }

#ifdef _WIN32
  // The same steps with the system's own calls: a temporary file beside the
  // target, flushed, then moved over it in one step.  The target's attributes
  // and rights are the folder's to give.
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = FFileName + ".~" + std::to_string(::_getpid()) + "." + std::to_string(counter++);
    fd = SettingsWin::OpenUtf8(temp, O_WRONLY | O_CREAT | O_EXCL, _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw EIniWriteError(FFileName, errno);
  int err = 0;
  if (!WriteAll(fd, text) || ::_commit(fd) != 0) err = errno;
  if (::_close(fd) != 0 && err == 0) err = errno;
  if (err == 0) err = SettingsWin::MoveOver(temp, FFileName);
  if (err != 0) {
    SettingsWin::RemoveUtf8(temp);
    throw EIniWriteError(FFileName, err);
  }
#else
  // Replace the file a symbolic link points to, not the link itself.
  std::string target = FFileName;
  if (char* real = ::realpath(FFileName.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));

  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = target + ".~" + std::to_string(::getpid()) + "." + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw EIniWriteError(FFileName, errno);

  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw EIniWriteError(FFileName, err);
  };
  struct stat st;
  if (::stat(target.c_str(), &st) == 0 && ::fchmod(fd, st.st_mode & 07777) != 0) fail(errno);
  if (!WriteAll(fd, text)) fail(errno);
  if (::fsync(fd) != 0) fail(errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    throw EIniWriteError(FFileName, err);
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    throw EIniWriteError(FFileName, err);
  }
  // Make the rename itself durable.
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
#endif
}
