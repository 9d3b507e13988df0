// Reading UTF-8 in text that comes from outside: typed, or read from a file.
#pragma once

#include <cstddef>
#include <string_view>

namespace updater {

// The length in bytes of the UTF-8 character that starts at `at` in `text`,
// with its code point in `code`; 0 when the bytes there are not UTF-8
// (a stray or missing continuation byte, an overlong form, a surrogate, or a
// value past U+10FFFF).
std::size_t utf8_character(std::string_view text, std::size_t at, char32_t& code);

}  // namespace updater
