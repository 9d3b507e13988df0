// The console operations that are the same on every platform.
#include "platform/console.h"

#include <cctype>
#include <cstdio>

#include "platform/utf8.h"

namespace updater {

namespace {

// What a terminal shows as it is: no control character (C0, DEL or C1).
bool shown_as_it_is(char32_t code) {
  return code >= 0x20 && (code < 0x7F || code > 0x9F);
}

}  // namespace

void print_line_showing(std::string_view label, std::string_view shown) {
  std::string line(label);
  if (output_is_terminal()) {
    line += with_question_marks(shown, shown_as_it_is);
  } else {
    line.append(shown);
  }
  print_line(line);
}

std::string read_word_from_bytes() {
  // A UTF-8 byte-order mark before the word (a file saved by Notepad, piped
  // in) is no part of it. Bytes that only begin one belong to the word.
  constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
  std::string word;
  int c = 0;
  while (word.size() < 3 && (c = std::getchar()) == (unsigned char)kByteOrderMark[word.size()]) {
    word += char(c);
  }
  if (word.size() == 3) {
    word.clear();
    c = std::getchar();
  }
  while (word.empty() && c != EOF && std::isspace(c)) c = std::getchar();
  for (; c != EOF && !std::isspace(c); c = std::getchar()) word += char(c);
  // The white space that ended the word, and the rest of the line, stay unread.
  if (c != EOF) std::ungetc(c, stdin);
  return word;
}

}  // namespace updater
