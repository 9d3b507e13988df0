#include "procedure/console.h"

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <iterator>

#ifndef _WIN32
#include <signal.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace updater {

void print_line(std::string_view text) {
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cout << '\n' << std::flush;
  std::cout.clear();
}

#ifdef _WIN32

void prepare_console() {}

void pause_console() {
  std::cout << std::flush;
  const int ignored = std::system("pause");
  (void)ignored;
}

#else

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
termios terminal_before_pause;

extern "C" void restore_terminal_and_end(int signal_number) {
  tcsetattr(STDIN_FILENO, TCSANOW, &terminal_before_pause);
  // The handler was reset on entry: the signal ends the program once we return.
  raise(signal_number);
}

// Reads what is waiting on the terminal until it has been quiet for a tenth
// of a second: the tail of a key that sends several bytes.
void discard_rest_of_key(termios quiet) {
  quiet.c_cc[VMIN] = 0;
  quiet.c_cc[VTIME] = 1;
  tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  char bytes[64];
  while (read(STDIN_FILENO, bytes, sizeof bytes) > 0) {
  }
}

}  // namespace

void prepare_console() {
  signal(SIGPIPE, SIG_IGN);
}

void pause_console() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &terminal_before_pause) != 0) return;

  struct sigaction restore {};
  restore.sa_handler = restore_terminal_and_end;
  restore.sa_flags = SA_RESETHAND;
  sigemptyset(&restore.sa_mask);
  struct sigaction previous[std::size(kEndingSignals)];
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    sigaction(kEndingSignals[i], &restore, &previous[i]);
  }

  std::cout << "Press any key to continue . . . " << std::flush;
  termios quiet = terminal_before_pause;
  quiet.c_lflag &= ~tcflag_t(ICANON | ECHO);
  quiet.c_cc[VMIN] = 1;
  quiet.c_cc[VTIME] = 0;
  // TCSAFLUSH drops whatever was typed before the prompt appeared.
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  char key[64];
  while (read(STDIN_FILENO, key, sizeof key) < 0 && errno == EINTR) {
  }
  discard_rest_of_key(quiet);
  tcsetattr(STDIN_FILENO, TCSANOW, &terminal_before_pause);

  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    sigaction(kEndingSignals[i], &previous[i], nullptr);
  }
  std::cout << '\n' << std::flush;
}

#endif

}  // namespace updater
