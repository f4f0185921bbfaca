// Integer text and system error text, the same for every part of the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Integer text as the settings file holds it: leading blanks (spaces, not
// tabs) skipped, then an optionally signed decimal number, or a hexadecimal
// one after "$", "x", "X", "0x" or "0X" (no sign; up to 32 bits, taken as the
// bit pattern, so $FFFFFFFF is -1).  The whole text must be the number and fit
// 32 bits; otherwise false and value untouched.
bool ParseInteger(std::string_view text, int32_t& value) noexcept;

// The system's text for an error number, without trailing blanks, line breaks
// and full stops ("Permission denied").
std::string SystemErrorText(int err);
