// The console seam on Windows.
#define NOMINMAX
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "platform/console.h"
#include "platform/text_windows.h"

namespace updater {
namespace {

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

bool is_white_space(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// The console input mode as the version read found it, put back by
// restore_input_mode when Ctrl+C, Ctrl+Break or closing the window ends the
// program during the read.
DWORD input_mode_before_read = 0;

BOOL WINAPI restore_input_mode(DWORD) {
  SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), input_mode_before_read);
  return FALSE;  // on to the default handler, which ends the program
}

// UTF-16 to UTF-8, a lone surrogate going as the three bytes it would take,
// which no UTF-8 reader accepts: the catalogue then refuses the word, where
// U+FFFD in its place would be recorded as if it had been typed.
std::string narrow_typed(std::wstring_view word) {
  std::string bytes;
  std::size_t start = 0;
  for (std::size_t at = 0; at < word.size(); ++at) {
    if (IS_HIGH_SURROGATE(word[at]) && at + 1 < word.size() && IS_LOW_SURROGATE(word[at + 1])) {
      ++at;
    } else if (word[at] >= 0xD800 && word[at] <= 0xDFFF) {
      bytes += narrow(word.substr(start, at - start));
      bytes += char(0xE0 | word[at] >> 12);
      bytes += char(0x80 | (word[at] >> 6 & 0x3F));
      bytes += char(0x80 | (word[at] & 0x3F));
      start = at + 1;
    }
  }
  return bytes + narrow(word.substr(start));
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

void print_line(std::string_view text) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!is_console(output)) {
    // A pipe or a file: UTF-8, the runtime's text mode ending the line with CR LF.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    std::clearerr(stdout);
    return;
  }
  // A console shows UTF-16 as it is, whatever its code page. The line goes
  // in pieces that never split a surrogate pair.
  const std::wstring line = widen(text) + L"\r\n";
  for (std::size_t at = 0; at < line.size();) {
    std::size_t part = std::min<std::size_t>(line.size() - at, 8192);
    if (at + part < line.size() && IS_HIGH_SURROGATE(line[at + part - 1])) --part;
    DWORD written = 0;
    if (!WriteConsoleW(output, line.data() + at, DWORD(part), &written, nullptr) || written == 0) {
      break;
    }
    at += written;
  }
}

bool output_is_terminal() {
  return is_console(GetStdHandle(STD_OUTPUT_HANDLE));
}

std::string read_word() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) return read_word_from_bytes();
  // Typed into a console: read as UTF-16, so that the word reaches us whole
  // whatever the console's code page, and hand it on in UTF-8. Whoever
  // started the program may have left the console without line input or
  // echo; for the read it takes whole lines, echoed, with Ctrl+C ending the
  // program, and afterwards it is put back as it was.
  input_mode_before_read = mode;
  SetConsoleCtrlHandler(restore_input_mode, TRUE);
  const bool lines = SetConsoleMode(input, mode | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                                               ENABLE_PROCESSED_INPUT) ||
                     (mode & ENABLE_LINE_INPUT);
  std::wstring word;
  bool word_ended = false, interrupted = false;
  wchar_t typed[256];
  DWORD count = 0;
  // Up to the end of the word's line: a line feed, or a carriage return,
  // which a console without line input sends alone for Enter.
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    if (!ReadConsoleW(input, typed, DWORD(std::size(typed)), &count, nullptr) || count == 0) {
      // Ctrl+C cuts the read short as it ends the program.
      interrupted = GetLastError() == ERROR_OPERATION_ABORTED;
      break;
    }
    const wchar_t* const end = std::find(typed, typed + count, L'\x1a');  // Ctrl+Z: end of input
    for (const wchar_t* c = typed; c != end && !word_ended; ++c) {
      if (!is_white_space(*c)) {
        word += *c;
      } else if (!word.empty()) {
        word_ended = true;
      }
    }
    if (end != typed + count) break;
    const wchar_t last = typed[count - 1];
    if (word_ended && (last == L'\n' || last == L'\r')) {
      // With line input, the line feed follows the carriage return.
      if (last == L'\r' && lines) ReadConsoleW(input, typed, 1, &count, nullptr);
      break;
    }
  }
  SetConsoleMode(input, mode);
  if (interrupted) ExitProcess(STATUS_CONTROL_C_EXIT);  // nothing more is done
  SetConsoleCtrlHandler(restore_input_mode, FALSE);
  return narrow_typed(word);
}

void pause_console() {
  std::fflush(stdout);
  // With redirected input nobody can press a key, and the interpreter's
  // pause would take a byte of that input instead.
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!GetConsoleMode(input, &input_mode_before_read)) return;
  // The interpreter's pause reads raw keys and does not put the mode back
  // when Ctrl+C ends it: the handler does, as for the version.
  SetConsoleCtrlHandler(restore_input_mode, TRUE);
  const int ignored = std::system("pause");
  (void)ignored;
  SetConsoleMode(input, input_mode_before_read);
  SetConsoleCtrlHandler(restore_input_mode, FALSE);
}

}  // namespace updater
