// Files a program keeps for itself in a cache folder: appended to, read back
// at any offset, and locked while their owner lives, so that a second window
// never removes a store in use, while a killed owner's lock goes with it.
// By a UTF-8 name on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TStoreFile {
public:
  TStoreFile() = default;
  ~TStoreFile() { Close(); }
  TStoreFile(const TStoreFile&) = delete;
  TStoreFile& operator=(const TStoreFile&) = delete;

  // Opens path for reading and appending (created when missing and create).
  // lock: held exclusively until closed; false when another process holds it.
  bool Open(const std::string& path, bool create, bool lock);
  bool IsOpen() const noexcept { return FHandle != kNone; }
  void Close() noexcept;

  // Writes all of data at the end; false (nothing more is promised) otherwise.
  bool Append(std::string_view data);
  // Exactly n bytes from offset; false when the file is shorter or unreadable.
  bool ReadAt(uint64_t offset, void* buffer, std::size_t n) const;
  uint64_t Size() const noexcept { return FSize; }
  bool Truncate(uint64_t size);
  // The system's code of the last failure.
  int LastError() const noexcept { return FError; }

private:
  static constexpr intptr_t kNone = -1;
  intptr_t FHandle = kNone;  // a descriptor, or a HANDLE on Windows
  uint64_t FSize = 0;
  mutable int FError = 0;
};

// True when a living process holds the lock of the file at path.
bool StoreFileLocked(const std::string& path);
// Names of the entries of folder (files and folders, not "." and "..").
std::vector<std::string> FolderEntries(const std::string& folder);
bool IsFolder(const std::string& path);
// Creates folder and its missing parents, private to the user.
bool MakeFolders(const std::string& folder);
bool RemoveFile(const std::string& path);
bool RemoveEmptyFolder(const std::string& path);
// Bytes the user may still write on the disk holding folder; 0 when unknown.
uint64_t FreeDiskBytes(const std::string& folder);
// The program's cache folder: $XDG_CACHE_HOME/<program> (~/.cache/<program>
// when unset or relative), %LOCALAPPDATA%\<program> on Windows.  Empty when
// there is no home to put it in.
std::string CacheFolder(const std::string& program);
// Joins a folder and a name with the platform's separator.
std::string JoinPath(const std::string& folder, const std::string& name);
