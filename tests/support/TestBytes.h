// Byte strings for tests: written as lists of numbers, or random with a bias
// towards the bytes the framing rules branch on.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>

inline std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// n random bytes, a quarter of them call bytes, kinds, 0x00 and power states,
// so that every branch of the rules is hit often.
inline std::string RandomBusBytes(std::mt19937& rng, std::size_t n) {
  static const uint8_t interesting[] = {0x00, 0x1F, 0x10, 0x11, 0x12, 0x14, 0x40, 0x41, 0x4A, 0x4B,
                                        0x56, 0x60, 0x61, 0x62, 0x80, 0x81, 0x83, 0x84, 0xB5, 0xFF};
  std::uniform_int_distribution<int> byte(0, 255), pick(0, 3),
      which(0, static_cast<int>(sizeof interesting) - 1);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(pick(rng) == 0 ? interesting[which(rng)] : byte(rng));
  return s;
}
