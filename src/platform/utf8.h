// UTF-8 in text that comes from outside (typed, or read from a file), read
// and written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace updater {

// The length in bytes of the UTF-8 character that starts at `at` in `text`,
// with its code point in `code`; 0 when the bytes there are not UTF-8
// (a stray or missing continuation byte, an overlong form, a surrogate, or a
// value past U+10FFFF).
std::size_t utf8_character(std::string_view text, std::size_t at, char32_t& code);

// Writes `code` in UTF-8 (one to four bytes) from `out`, and gives the end.
// A surrogate goes as the three bytes it would take, which no UTF-8 reader
// accepts.
char* put_utf8(char* out, char32_t code);

// `text` with each byte that is not UTF-8, and each character that `keeps`
// turns down, shown as "?".
std::string with_question_marks(std::string_view text, bool (*keeps)(char32_t code));

}  // namespace updater
