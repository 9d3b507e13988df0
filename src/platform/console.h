// The console: every line the program prints, the one word it reads, and
// every wait for the user. Each platform has its own side of this interface
// (console_posix.cpp, console_windows.cpp).
#pragma once

#include <string>
#include <string_view>

namespace updater {

// Readies the console once, before anything else. A standard input, output
// or error that is closed is opened on the null device, so that no file the
// program opens can take its place: closed input reads as the end of input,
// and closed output discards. Output to a closed pipe then fails quietly
// instead of ending the program.
void prepare_console();

// Writes the text and a line end to standard output, then flushes it.
// Output errors are ignored. The text is UTF-8 and goes out as such, but
// into a Windows console, where it is written as UTF-16 so that it shows the
// same letters whatever the console's code page.
void print_line(std::string_view text);

// Writes `label` and then `shown` as one line, as print_line does. At a
// terminal (or console), each control character of `shown`, and each byte
// of it that is not UTF-8, appears as "?", so that text read from a file
// cannot steer the terminal; into a pipe or a file every byte goes as it is.
void print_line_showing(std::string_view label, std::string_view shown);

// True when standard output is a terminal (or console), where a person reads it.
bool output_is_terminal();

// Reads one word from standard input: leading white space is skipped, the
// word ends at the next white space or at the end of input, and the rest of
// the line is left unread. Empty at the end of input. Typed into a Windows
// console, the word arrives in UTF-8 whatever the console's code page; the
// console reads whole lines with echo for it, and Enter ends the line also
// where it sends a carriage return alone; its input mode is put back
// afterwards, also when Ctrl+C ends the program there. Redirected input is
// taken byte for byte, a 0x1A byte too.
std::string read_word();

// The word of read_word, taken byte for byte from standard input, as
// read_word does everywhere but in a Windows console.
std::string read_word_from_bytes();

// Waits until the user presses a key. When standard input is not a terminal
// (or console) nobody can press one, so it returns at once. Otherwise it
// prints "Press any key to continue . . . ", waits for one key without echo,
// swallows whatever was typed ahead and what comes with the key (the rest of
// its bytes, or keys typed in a hurry), and leaves the terminal or console as
// it found it, also when Ctrl+C ends the program here. On Linux Ctrl+Z stops
// it too (the pause takes up its mode again on continuing).
void pause_console();

}  // namespace updater
