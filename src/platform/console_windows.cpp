// The console seam on Windows.
#define NOMINMAX
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "platform/console.h"

namespace updater {
namespace {

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

std::string to_utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(std::size_t(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), narrow.data(), size, nullptr,
                      nullptr);
  return narrow;
}

bool is_white_space(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

}  // namespace

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

bool output_is_terminal() {
  return is_console(GetStdHandle(STD_OUTPUT_HANDLE));
}

std::string read_word() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!is_console(input)) return read_word_from_bytes();
  // Typed into a console: read as UTF-16, so that the word reaches us whole
  // whatever the console's code page, and hand it on in UTF-8.
  std::wstring word;
  bool word_ended = false;
  wchar_t typed[256];
  DWORD count = 0;
  // Line by line, up to and including the line feed that ends the word's line.
  while (ReadConsoleW(input, typed, DWORD(std::size(typed)), &count, nullptr) && count > 0) {
    for (DWORD i = 0; i < count && !word_ended; ++i) {
      if (typed[i] == L'\x1a') return to_utf8(word);  // Ctrl+Z: the end of input
      if (!is_white_space(typed[i])) {
        word += typed[i];
      } else if (!word.empty()) {
        word_ended = true;
      }
    }
    if (word_ended && typed[count - 1] == L'\n') break;
  }
  return to_utf8(word);
}

void pause_console() {
  std::fflush(stdout);
  // With redirected input nobody can press a key, and the interpreter's
  // pause would take a byte of that input instead.
  if (!is_console(GetStdHandle(STD_INPUT_HANDLE))) return;
  const int ignored = std::system("pause");
  (void)ignored;
}

}  // namespace updater
