// UTF-8, the program's own text, to and from the UTF-16 of the Windows calls.
#pragma once

#ifdef _WIN32
#include <string>
#include <string_view>

std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);
#endif
