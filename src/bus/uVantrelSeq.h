// uVantrelSeq: framing and decoding of the Vantrel BUS byte stream.
// Pure functions of a byte string; no Qt, no state.
//
// Protocol byte positions count from 1; here byte 1 is index 0.
#pragma once

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
