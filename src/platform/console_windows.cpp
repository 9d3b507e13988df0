// The console seam on Windows.
#define NOMINMAX
#include "platform/console_windows.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "platform/console.h"
#include "platform/text_windows.h"
#include "platform/utf8.h"

namespace updater {
namespace {

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

bool is_white_space(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// The console modes as the program found them, put back on every way out:
// when it returns, when Ctrl+C, Ctrl+Break or closing the window ends it, and
// through end_as_interrupted. The input mode changes only while the version
// is read or a pause waits, and is put back afterwards.
DWORD output_mode_found = 0, input_mode_found = 0;
bool output_mode_changed = false;
std::atomic<bool> input_mode_changed{false};

void put_console_back() {
  if (output_mode_changed) SetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), output_mode_found);
  if (input_mode_changed) SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), input_mode_found);
}

BOOL WINAPI put_console_back_and_end(DWORD) {
  put_console_back();
  return FALSE;  // on to the default handler, which ends the program
}

// Sets the console input mode `mode` for a read, in place of `found`, which
// input_mode_put_back puts back. False when the console refuses the mode.
bool set_input_mode(HANDLE input, DWORD found, DWORD mode) {
  input_mode_found = found;
  input_mode_changed = true;
  return SetConsoleMode(input, mode) != 0;
}

void input_mode_put_back(HANDLE input) {
  SetConsoleMode(input, input_mode_found);
  input_mode_changed = false;
}

// Writes UTF-8 text, and a line end when `line_end` is set, to standard
// output: into a console as UTF-16, which shows the same letters whatever
// its code page; elsewhere as UTF-8, the runtime's text mode ending the line
// with CR LF. Output errors are ignored.
void write_out(std::string_view text, bool line_end) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!is_console(output)) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (line_end) std::fputc('\n', stdout);
    std::fflush(stdout);
    std::clearerr(stdout);
    return;
  }
  // The text goes in pieces that never split a surrogate pair.
  const std::wstring line = widen(text) + (line_end ? L"\r\n" : L"");
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

// A key that is pressed with others, and alone continues no pause.
bool is_modifier(WORD key) {
  return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_LWIN ||
         key == VK_RWIN || key == VK_CAPITAL || key == VK_NUMLOCK || key == VK_SCROLL;
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
      char lone[4];
      bytes.append(lone, put_utf8(lone, word[at]));
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
  // Redirected input is taken byte for byte: in text mode a 0x1A byte would
  // end it, and CR LF would lose its CR.
  _setmode(_fileno(stdin), _O_BINARY);
  // Whoever started the program may have left the console without processed
  // output or wrapping (a launcher, a program that crashed in the same
  // window), which would run every line into the one before.
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (GetConsoleMode(output, &output_mode_found)) {
    output_mode_changed = SetConsoleMode(
        output, output_mode_found | ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
  }
  std::atexit(put_console_back);
  SetConsoleCtrlHandler(put_console_back_and_end, TRUE);
}

void end_as_interrupted() {
  put_console_back();
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

void print_line(std::string_view text) {
  write_out(text, true);
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
  const bool lines =
      set_input_mode(input, mode,
                     mode | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT) ||
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
  input_mode_put_back(input);
  if (interrupted) end_as_interrupted();  // nothing more is done
  return narrow_typed(word);
}

void pause_console() {
  std::fflush(stdout);
  // With redirected input nobody can press a key.
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) return;
  // Keys come as events, whatever the line and echo modes; Ctrl+C still ends
  // the program, also where the console was left to hand it on as a key.
  set_input_mode(input, mode, mode | ENABLE_PROCESSED_INPUT);
  // What was typed before the pause (the version, typed ahead) does not end it.
  FlushConsoleInputBuffer(input);
  write_out("Press any key to continue . . . ", false);
  INPUT_RECORD event{};
  DWORD count = 0;
  while (ReadConsoleInputW(input, &event, 1, &count) && count == 1 &&
         !(event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown &&
           !is_modifier(event.Event.KeyEvent.wVirtualKeyCode))) {
  }
  // The key's release, and whatever else comes with it (keys typed in a
  // hurry, text pasted), goes until the input has been quiet for a tenth of
  // a second.
  while (WaitForSingleObject(input, 100) == WAIT_OBJECT_0 && FlushConsoleInputBuffer(input)) {
  }
  input_mode_put_back(input);
  write_out("", true);
}

}  // namespace updater
