// UTF-8, the program's own text, to and from the UTF-16 of the Windows calls,
// and their error codes as errno values, so that causes read the same on
// every platform.
#pragma once

#ifdef _WIN32
#include <string>
#include <string_view>

std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);
// The errno value for a GetLastError() code (EIO for codes without one).
int ErrnoOfWinError(unsigned long error);
#endif
