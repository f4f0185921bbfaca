// Helpers shared by the capture writer and reader; not part of their
// interface.
#pragma once

#include <string>
#include <string_view>

namespace capture_io {

// The system's text for an errno value, without a trailing full stop:
// "No space left on device".
std::string SystemErrorText(int code);

// Line ends, other control characters and invalid UTF-8 replaced by "?".
std::string CleanText(std::string_view text);

}  // namespace capture_io
