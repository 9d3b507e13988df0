// The console seam on Windows.
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "procedure/console.h"

namespace updater {

void prepare_console() {
  // A program started without a standard handle has a stream with no file
  // behind it; it is opened on the null device instead.
  const struct {
    std::FILE* stream;
    const char* mode;
  } standard[] = {{stdin, "r"}, {stdout, "w"}, {stderr, "w"}};
  for (const auto& [stream, mode] : standard) {
    const int descriptor = _fileno(stream);
    if (descriptor < 0 || _get_osfhandle(descriptor) < 0) {
      const std::FILE* reopened = std::freopen("NUL", mode, stream);
      (void)reopened;
    }
  }
}

void print_line(std::string_view text) {
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cout << '\n' << std::flush;
  std::cout.clear();
}

std::string read_word() {
  std::string word;
  std::cin >> word;
  return word;
}

void pause_console() {
  std::cout << std::flush;
  const int ignored = std::system("pause");
  (void)ignored;
}

}  // namespace updater
