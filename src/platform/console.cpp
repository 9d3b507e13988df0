// The console operations that are the same on every platform.
#include "platform/console.h"

#include <cctype>
#include <cstdio>

#include "platform/utf8.h"

namespace updater {

void print_line_showing(std::string_view label, std::string_view shown) {
  std::string line(label);
  if (!output_is_terminal()) {
    line.append(shown);
  } else {
    for (std::size_t at = 0; at < shown.size();) {
      char32_t code = 0;
      const std::size_t length = utf8_character(shown, at, code);
      if (length == 0 || code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
        line += '?';  // each byte of it
        ++at;
      } else {
        line.append(shown.substr(at, length));
        at += length;
      }
    }
  }
  print_line(line);
}

std::string read_word_from_bytes() {
  std::string word;
  int c = 0;
  while ((c = std::getchar()) != EOF && std::isspace(c)) {
  }
  for (; c != EOF && !std::isspace(c); c = std::getchar()) word += char(c);
  // The white space that ended the word, and the rest of the line, stay unread.
  if (c != EOF) std::ungetc(c, stdin);
  return word;
}

}  // namespace updater
