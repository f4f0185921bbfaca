// uVantrelSeq: framing and decoding of the Vantrel BUS byte stream.
// Pure functions of a byte string; no Qt, no state.
//
// Protocol byte positions count from 1; here byte 1 is index 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/ByteString.h"  // one item as cut from the line

// ---- framing --------------------------------------------------------------

// True for the 62 call bytes: bit 5 clear, bits 0-4 not zero, even number of
// one bits.  Shared by framing and by the window's dispatch.
bool IsCallByte(uint8_t b) noexcept;

// True when m has at least 2 bytes and byte 2 equals the XOR of byte 1 and
// bytes 3..n.
bool CheckByteValid(std::string_view m) noexcept;

// Both length rules look only at the head of the receive buffer and return the
// number of bytes that form the next item: 0 = unknown (hand on the whole
// buffer), N >= 1 = the first N bytes (N may exceed buf.size(): wait for more).

// The plain rule: the length table applied to the head of buf.
int MessageLength(std::string_view buf) noexcept;

// The checked rule used by the reader thread (own rule for 0x00, check byte
// test for call-byte kinds, resynchronisation by one-byte items).
int CheckedMessageLength(std::string_view buf) noexcept;

using TFrameRule = int (*)(std::string_view) noexcept;  // one of the two rules

// The length of the item at the head of buf (not empty) as rule frames it,
// or 0 while more bytes could still change it: a message not complete yet, a
// call byte that may begin a message of its kind (0x11, 0x12, 0x4B, 0x56 with
// fewer bytes behind it than that kind's length), or a run of bytes of no
// known kind that reaches the end of buf.  final: no more bytes will come, so
// these go as they are: the incomplete message short (the whole buf), the call
// byte alone, the run whole.  A run of no known kind ends before the first
// byte that rule knows, so one damaged byte hides nothing behind it.
std::size_t NextItemLengthSlow(std::string_view buf, TFrameRule rule, bool final, int n) noexcept;
inline std::size_t NextItemLength(std::string_view buf, TFrameRule rule, bool final) noexcept {
  // Most items are messages or call bytes with enough bytes behind them to
  // be sure (a call byte's candidate message has at most 4): decided here.
  const int n = rule(buf);
  if (n > 1 && static_cast<std::size_t>(n) <= buf.size()) return static_cast<std::size_t>(n);
  if (n == 1 && (final || buf.size() >= 4)) return 1;
  return NextItemLengthSlow(buf, rule, final, n);
}

// The one loop that cuts a receive buffer into items (reader, capture files):
// hands each item from the head of buf to put(std::string_view), which
// returns false to stop after it, until NextItemLength says wait.  Returns
// the number of bytes handed on; the rest waits for more bytes.
template <typename Put>
std::size_t CutComplete(std::string_view buf, TFrameRule rule, bool final, Put&& put) {
  std::string_view rest = buf;
  while (!rest.empty()) {
    const std::size_t n = NextItemLength(rest, rule, final);
    if (n == 0) break;
    const std::string_view item(rest.data(), n);
    rest.remove_prefix(n);
    if (!put(item)) break;
  }
  return buf.size() - rest.size();
}

// Sets byte 2 of m to the XOR of byte 1 and bytes 3..n (m must hold 2 bytes).
void SetCheckByte(ByteString& m) noexcept;

// The call byte for a device address 1-31 and its activity flag.
uint8_t CallByteFor(int address, bool active) noexcept;

// ---- decoding -------------------------------------------------------------

// Each byte as "%2.2X " (two upper-case hex digits and a blank); 3*n chars.
std::string MessageToHex(std::string_view m);

// Czech comment for 0x4A, 0x4B, 0x61, 0x62 (UTF-8), or "" when the kind is
// not decoded or its decoder fails.
std::string MessageComment(std::string_view m);

// Decoders: return true when the outputs mean something.  A decoder that
// rejects the message because of its length writes nothing.  None of them
// tests byte 1 or the check byte.

// 0x4A turnout / 0x4B contact, 4 bytes; address 1-2048.
bool DecodeAccessory(std::string_view m, uint16_t& address, bool& firstFlag,
                     bool& secondFlag) noexcept;

// 0x61, 5 bytes; address 0-10239, speed after reduction by speedMode <= 28.
bool DecodeLocoSpeed(std::string_view m, uint8_t speedMode, uint16_t& address, bool& direction,
                     uint8_t& speed) noexcept;

// 0x62, 5 bytes; function 0 (lights) or 1-16, address 0-10239.  For a function
// number above 16 the state is not written.
bool DecodeLocoFunction(std::string_view m, uint16_t& address, bool& state,
                        uint8_t& function) noexcept;

// 0x62 with function number 0.
bool DecodeLocoLights(std::string_view m, uint16_t& address, bool& state) noexcept;

// 8 -> "KV8", 12 -> "KV12", any other code -> its decimal digits.
std::string CentralTypeText(int code);

// 0x00 central status, 7 bytes.  firmwareText is "%X.%X" of byte 6's nibbles.
bool DecodeCentralStatus(std::string_view m, std::string& typeText, std::string& firmwareText,
                         int& freeLoco, double& ia, double& im);

// Letter functions.
std::string BoolToLR(bool flag);  // "L" / "R"  turnout, first flag
std::string BoolToBA(bool flag);  // "b" / "a"  contact, first flag
std::string BoolToTF(bool flag);  // "T" / "F"  second flag; function and lights state
std::string BoolToPZ(bool flag);  // "P" / "Z"  locomotive direction
