// The console operations that are the same on every platform.
#include "platform/console.h"

#include <cctype>
#include <cstdio>

namespace updater {

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
