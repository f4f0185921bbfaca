// One owner per file descriptor, and a write that does not stop halfway.
#pragma once

#include <string_view>
#include <utility>

// Owns one descriptor and closes it when destroyed or given another; moves,
// never copies.  Closing keeps errno, so a failure's code survives the
// clean-up that follows it.
class TUniqueFd {
public:
  TUniqueFd() = default;
  explicit TUniqueFd(int fd) noexcept : FFd(fd) {}
  TUniqueFd(TUniqueFd&& other) noexcept : FFd(other.Release()) {}
  TUniqueFd& operator=(TUniqueFd&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;
  ~TUniqueFd() { Reset(); }

  int Get() const noexcept { return FFd; }
  explicit operator bool() const noexcept { return FFd >= 0; }
  int Release() noexcept { return std::exchange(FFd, -1); }
  void Reset(int fd = -1) noexcept;  // closes the one held, then holds fd

private:
  int FFd = -1;
};

// Writes all of data, resuming after partial writes and signals; false with
// errno set when the system refuses (a full non-blocking pipe included).
bool WriteAll(int fd, std::string_view data);
