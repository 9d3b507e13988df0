// The console seam on Linux and other POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iterator>

#include "platform/console.h"

namespace updater {

void prepare_console() {
  for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) < 0 && errno == EBADF) {
      // The lowest free descriptor is the closed one: the lower ones are open.
      open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
  }
  signal(SIGPIPE, SIG_IGN);
}

void print_line(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  std::clearerr(stdout);
}

bool output_is_terminal() {
  return isatty(STDOUT_FILENO) != 0;
}

std::string read_word() {
  return read_word_from_bytes();
}

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
termios terminal_before_pause;
termios terminal_in_pause;  // the mode the pause is in now

extern "C" void restore_terminal_and_end(int signal_number) {
  tcsetattr(STDIN_FILENO, TCSANOW, &terminal_before_pause);
  // The handler was reset on entry: the signal ends the program once we return.
  raise(signal_number);
}

void set_stop_handler(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTSTP, &action, nullptr);
}

extern "C" void restore_terminal_and_stop(int) {
  const int saved_errno = errno;
  tcsetattr(STDIN_FILENO, TCSANOW, &terminal_before_pause);
  set_stop_handler(SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  raise(SIGTSTP);
  // Continued: the pause goes on waiting in its own mode.
  set_stop_handler(restore_terminal_and_stop);
  tcsetattr(STDIN_FILENO, TCSANOW, &terminal_in_pause);
  errno = saved_errno;
}

// Reads what is waiting on the terminal until it has been quiet for a tenth
// of a second: the tail of a key that sends several bytes.
void discard_rest_of_key() {
  terminal_in_pause.c_cc[VMIN] = 0;
  terminal_in_pause.c_cc[VTIME] = 1;
  tcsetattr(STDIN_FILENO, TCSANOW, &terminal_in_pause);
  char bytes[64];
  while (read(STDIN_FILENO, bytes, sizeof bytes) > 0) {
  }
}

}  // namespace

void pause_console() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &terminal_before_pause) != 0) return;
  terminal_in_pause = terminal_before_pause;
  terminal_in_pause.c_lflag &= ~tcflag_t(ICANON | ECHO);
  terminal_in_pause.c_cc[VMIN] = 1;
  terminal_in_pause.c_cc[VTIME] = 0;

  struct sigaction restore {};
  restore.sa_handler = restore_terminal_and_end;
  restore.sa_flags = SA_RESETHAND;
  sigemptyset(&restore.sa_mask);
  struct sigaction previous[std::size(kEndingSignals)];
  // A signal ignored when the program started stays ignored.
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    sigaction(kEndingSignals[i], nullptr, &previous[i]);
    if (previous[i].sa_handler != SIG_IGN) sigaction(kEndingSignals[i], &restore, nullptr);
  }
  struct sigaction previous_stop;
  sigaction(SIGTSTP, nullptr, &previous_stop);
  if (previous_stop.sa_handler != SIG_IGN) set_stop_handler(restore_terminal_and_stop);

  // TCSAFLUSH drops whatever was typed before the prompt appears; by the
  // time it shows, the terminal is in the pause's mode.
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &terminal_in_pause);
  std::fputs("Press any key to continue . . . ", stdout);
  std::fflush(stdout);
  char key[64];
  while (read(STDIN_FILENO, key, sizeof key) < 0 && errno == EINTR) {
  }
  discard_rest_of_key();
  tcsetattr(STDIN_FILENO, TCSANOW, &terminal_before_pause);

  sigaction(SIGTSTP, &previous_stop, nullptr);
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    sigaction(kEndingSignals[i], &previous[i], nullptr);
  }
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace updater
