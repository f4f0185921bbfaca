// Sanitizer builds run several times slower: timing bounds that measure the
// program, not the sanitizer, hold only outside them.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
