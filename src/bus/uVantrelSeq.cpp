// uVantrelSeq: framing and decoding of the bus byte stream.
#include "bus/uVantrelSeq.h"

#include <algorithm>
#include <array>
#include <bit>

namespace {

// Byte at position pos (from 1), as unsigned.
inline uint8_t At(std::string_view s, std::size_t pos) noexcept {
  return static_cast<uint8_t>(s[pos - 1]);
}

constexpr bool ComputeCallByte(unsigned b) noexcept {
  return (b & 0x20) == 0 && (b & 0x1F) != 0 && std::popcount(b) % 2 == 0;
}

// One lookup per item instead of three tests: the reader asks this for every
// byte of a call-byte run.
constexpr std::array<bool, 256> kCallByte = [] {
  std::array<bool, 256> t{};
  for (unsigned b = 0; b < 256; ++b) t[b] = ComputeCallByte(b);
  return t;
}();

// The length table; the kinds whose length is byte 3 + 3 hold their
// default here (used until 3 bytes are present).
constexpr std::array<uint8_t, 256> kLength = [] {
  std::array<uint8_t, 256> t{};
  t[0x00] = 8;
  t[0x10] = t[0x11] = t[0x12] = 2;
  t[0x14] = 1;
  t[0x40] = 11;
  t[0x45] = t[0x4A] = t[0x4B] = t[0x54] = t[0x56] = 4;
  t[0x60] = 6;
  t[0x61] = t[0x62] = t[0x64] = t[0x75] = 5;
  t[0x80] = 5;
  t[0x85] = 6;
  t[0xB5] = t[0xB8] = 7;
  return t;
}();

inline bool CountedKind(uint8_t b) noexcept {
  return b == 0x00 || b == 0x40 || b == 0x60 || b == 0x80;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// 16-bit word of bytes 3 (high) and 4 (low).
inline uint16_t Word34(std::string_view m) noexcept {
  return static_cast<uint16_t>(At(m, 3) << 8 | At(m, 4));
}

}  // namespace

// ---- framing ----------------------------------------------------------------

bool IsCallByte(uint8_t b) noexcept { return kCallByte[b]; }

bool CheckByteValid(std::string_view m) noexcept {
  if (m.size() < 2) return false;
  uint8_t x = At(m, 1);
  for (std::size_t i = 3; i <= m.size(); ++i) x ^= At(m, i);
  return x == At(m, 2);
}

int MessageLength(std::string_view buf) noexcept {
  if (buf.empty()) return 0;
  const uint8_t kind = At(buf, 1);
  if (CountedKind(kind) && buf.size() >= 3) return At(buf, 3) + 3;
  return kLength[kind];
}

int CheckedMessageLength(std::string_view buf) noexcept {
  if (buf.empty()) return 0;
  const uint8_t kind = At(buf, 1);
  if (kind == 0x00) {
    // The central's own messages: power state (3) or status (7); byte 3 is
    // not a length here and the check byte is not tested.
    if (buf.size() >= 2 && At(buf, 2) >= 0x80 && At(buf, 2) <= 0x83) return 3;
    return 7;
  }
  if (kind == 0x1F) return 1;
  if (kCallByte[kind]) {
    if (buf.size() == 1) return 1;
    const int len = MessageLength(buf);
    // An incomplete candidate is not waited for: the byte is a call byte.
    if (len == 0 || static_cast<std::size_t>(len) > buf.size()) return 1;
    return CheckByteValid(buf.substr(0, static_cast<std::size_t>(len))) ? len : 1;
  }
  return MessageLength(buf);
}

std::size_t NextItemLengthSlow(std::string_view buf, TFrameRule rule, bool final,
                               int length) noexcept {
  const std::size_t n = static_cast<std::size_t>(std::max(length, 0));
  if (n > buf.size()) return final ? buf.size() : 0;
  // The checked rule cuts a lone call byte even when its candidate message
  // has not fully arrived; the rest may still make it a message.
  if (n == 1 && !final && static_cast<std::size_t>(MessageLength(buf)) > buf.size()) return 0;
  if (n > 0) return n;
  for (std::size_t i = 1; i < buf.size(); ++i)
    if (rule(buf.substr(i, 1)) != 0) return i;
  return final ? buf.size() : 0;
}

void SetCheckByte(ByteString& m) noexcept {
  uint8_t x = At(m, 1);
  for (std::size_t i = 3; i <= m.size(); ++i) x ^= At(m, i);
  m[1] = static_cast<char>(x);
}

uint8_t CallByteFor(int address, bool active) noexcept {
  unsigned b = (static_cast<unsigned>(address) & 0x1F) | (active ? 0x40u : 0u);
  if (std::popcount(b) % 2) b |= 0x80;
  return static_cast<uint8_t>(b);
}

// ---- decoding ---------------------------------------------------------------

std::string MessageToHex(std::string_view m) {
  std::string s(m.size() * 3, ' ');
  for (std::size_t i = 0; i < m.size(); ++i) {
    const auto b = static_cast<uint8_t>(m[i]);
    s[3 * i] = kHexDigits[b >> 4];
    s[3 * i + 1] = kHexDigits[b & 0x0F];
  }
  return s;
}

std::string MessageComment(std::string_view m) {
  if (m.empty()) return {};
  uint16_t address = 0;
  bool first = false, second = false;
  switch (At(m, 1)) {
    case 0x4A:
      if (DecodeAccessory(m, address, first, second))
        return "Vyhybka " + std::to_string(address) + ' ' + BoolToLR(first) + ' ' +
               BoolToTF(second);
      break;
    case 0x4B:
      if (DecodeAccessory(m, address, first, second))
        return "Kontakt " + std::to_string(address) + ' ' + BoolToBA(first) + ' ' +
               BoolToTF(second);
      break;
    case 0x61: {
      uint8_t speed = 0;
      if (DecodeLocoSpeed(m, 4, address, first, speed))
        return "Loko #" + std::to_string(address) + " rychlost " + BoolToPZ(first) + ' ' +
               std::to_string(speed);
      break;
    }
    case 0x62: {
      uint8_t function = 0;
      if (DecodeLocoLights(m, address, first))
        return "Loko #" + std::to_string(address) + " světla " + BoolToTF(first);
      if (DecodeLocoFunction(m, address, first, function))
        return "Loko #" + std::to_string(address) + " funkce " + std::to_string(function) + ' ' +
               BoolToTF(first);
      break;
    }
    default:
      break;
  }
  return {};
}

bool DecodeAccessory(std::string_view m, uint16_t& address, bool& firstFlag,
                     bool& secondFlag) noexcept {
  if (m.size() != 4) return false;
  const uint16_t w = Word34(m);
  firstFlag = (w & 0x01) != 0;
  secondFlag = (w & 0x02) != 0;
  address = static_cast<uint16_t>(w >> 2);
  return address >= 1 && address <= 2048;
}

bool DecodeLocoSpeed(std::string_view m, uint8_t speedMode, uint16_t& address, bool& direction,
                     uint8_t& speed) noexcept {
  if (m.size() != 5) return false;
  address = Word34(m);
  direction = (At(m, 5) & 0x80) != 0;
  uint8_t s = At(m, 5) & 0x7F;
  if (s != 0) {
    switch (speedMode) {
      case 0:
      case 4:
      case 8:
      case 12:
        if (s > 1) s -= 1;
        break;
      case 1:
      case 5:
        if (s > 3) s -= 3;
        break;
      default:
        break;
    }
  }
  speed = s;
  return address <= 10239 && speed <= 28;
}

bool DecodeLocoFunction(std::string_view m, uint16_t& address, bool& state,
                        uint8_t& function) noexcept {
  if (m.size() != 5) return false;
  const uint8_t b5 = At(m, 5);
  function = b5 & 0x1F;
  address = Word34(m);
  if (function == 0)
    state = (b5 & 0x80) != 0;
  else if (function <= 16)
    state = (b5 & 0x20) != 0;
  return function <= 16 && address <= 10239;
}

bool DecodeLocoLights(std::string_view m, uint16_t& address, bool& state) noexcept {
  uint8_t function = 0;
  return DecodeLocoFunction(m, address, state, function) && function == 0;
}

std::string CentralTypeText(int code) {
  if (code == 8) return "KV8";
  if (code == 12) return "KV12";
  return std::to_string(code);
}

bool DecodeCentralStatus(std::string_view m, std::string& typeText, std::string& firmwareText,
                         int& freeLoco, double& ia, double& im) {
  if (m.size() != 7) return false;
  typeText = CentralTypeText(At(m, 3) >> 4);
  firmwareText = {kHexDigits[At(m, 6) >> 4], '.', kHexDigits[At(m, 6) & 0x0F]};
  ia = At(m, 4) / 10.0;
  im = static_cast<double>(At(m, 3) & 0x0F);
  freeLoco = At(m, 7);
  return true;
}

std::string BoolToLR(bool flag) { return flag ? "L" : "R"; }
std::string BoolToBA(bool flag) { return flag ? "b" : "a"; }
std::string BoolToTF(bool flag) { return flag ? "T" : "F"; }
std::string BoolToPZ(bool flag) { return flag ? "P" : "Z"; }
