// The console: every line the program prints and every wait for the user.
#pragma once

#include <string_view>

namespace updater {

// Readies the console once, before the first line. Output to a closed pipe
// then fails quietly instead of ending the program.
void prepare_console();

// Writes the text and a line end to standard output, then flushes it.
// Output errors are ignored.
void print_line(std::string_view text);

// Waits until the user presses a key. On Windows this is the command
// interpreter's "pause". Elsewhere, when standard input is a terminal, it
// prints "Press any key to continue . . . ", waits for one key without echo,
// swallows the rest of that key's bytes and whatever was typed ahead, and
// leaves the terminal as it found it, also when Ctrl+C ends the program
// here. When standard input is not a terminal it returns at once.
void pause_console();

}  // namespace updater
