// Little-endian numbers and a checksum for the program's own binary files
// (the session store's records, a converted capture's kept facts): the same
// bytes on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline uint32_t Fnv1a32(std::string_view data) noexcept {
  uint32_t h = 2166136261u;
  for (unsigned char c : data) h = (h ^ c) * 16777619u;
  return h;
}

inline uint64_t Fnv1a64(std::string_view data, uint64_t h = 14695981039346656037ull) noexcept {
  for (unsigned char c : data) h = (h ^ c) * 1099511628211ull;
  return h;
}

inline void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
inline void PutU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
inline uint32_t GetU32(const char* p) noexcept {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(p[i]);
  return v;
}
inline uint64_t GetU64(const char* p) noexcept {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(p[i]);
  return v;
}

// Reads what the Put functions wrote, front to back; once anything is
// missing every read fails and Ok() stays false.
class TByteReader {
public:
  explicit TByteReader(std::string_view in) noexcept : FIn(in) {}
  bool Ok() const noexcept { return FOk; }
  bool AtEnd() const noexcept { return FIn.empty(); }
  uint64_t U64() noexcept { return Take(8) ? GetU64(FLast.data()) : 0; }
  uint32_t U32() noexcept { return Take(4) ? GetU32(FLast.data()) : 0; }
  int64_t I64() noexcept { return static_cast<int64_t>(U64()); }
  uint8_t U8() noexcept { return Take(1) ? static_cast<uint8_t>(FLast[0]) : 0; }
  // n bytes as they are.
  std::string_view Raw(std::size_t n) noexcept { return Take(n) ? FLast : std::string_view(); }
  // A string written by PutText.
  std::string Text() {
    const uint32_t n = U32();
    return std::string(Raw(n));
  }

private:
  bool Take(std::size_t n) noexcept {
    if (!FOk || FIn.size() < n) {
      FOk = false;
      FLast = {};
      return false;
    }
    FLast = FIn.substr(0, n);
    FIn.remove_prefix(n);
    return true;
  }
  std::string_view FIn;
  std::string_view FLast;
  bool FOk = true;
};

inline void PutText(std::string& out, std::string_view text) {
  PutU32(out, static_cast<uint32_t>(text.size()));
  out.append(text);
}
