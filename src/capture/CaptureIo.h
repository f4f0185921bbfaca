// Helpers shared by the capture writer and reader; not part of their
// interface.
#pragma once

#include <string>
#include <string_view>

namespace capture_io {

// Line ends, other control characters and invalid UTF-8 replaced by "?".
std::string CleanText(std::string_view text);

}  // namespace capture_io
