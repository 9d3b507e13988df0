// The program in a real terminal, started from a shell with job control as a
// user starts it. The pause waits for one key, swallows what was typed ahead
// and the tail of a key that sends several bytes, and leaves the terminal as
// it found it, also when Ctrl+Z stops it and when Ctrl+C ends it; each byte of
// a control character in the checksum, and each byte that is not UTF-8,
// reaches the terminal as "?".
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support.h"

namespace {

using namespace std::chrono_literals;
using namespace test_support;

struct terminal {
  int fd = -1;
  std::string screen;

  // True once `text` shows, within five seconds; the screen is read up to it.
  bool shows(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (screen.find(text) == std::string::npos) {
      pollfd ready{fd, POLLIN, 0};
      char bytes[256];
      const ssize_t got = poll(&ready, 1, 50) > 0 ? read(fd, bytes, sizeof bytes) : 0;
      if (got > 0) screen.append(bytes, std::size_t(got));
      if (std::chrono::steady_clock::now() > deadline) return false;
    }
    screen.erase(0, screen.find(text) + text.size());
    return true;
  }
  void type(const std::string& keys) {
    ASSERT_EQ(write(fd, keys.data(), keys.size()), ssize_t(keys.size()));
  }
  // True when the terminal echoes and reads whole lines, as a shell leaves it.
  bool as_found() {
    std::this_thread::sleep_for(300ms);
    termios now{};
    tcgetattr(fd, &now);
    return (now.c_lflag & ECHO) && (now.c_lflag & ICANON);
  }
};

TEST(Terminal, ThePauseInAShellWithJobControl) {
  const fs::path folder = fresh_folder();
  // Escape, delete, the first and last C1 controls, a byte that is not UTF-8.
  write_file(folder / "logs/Zelbix.log",
             "Game checksum: 3f\x1B\x7F\xC2\x80\xC2\x9F\xFF"
             "2a9c\n");
  write_file(folder / "configs/UserConfiguration.xml", "<UserConfiguration/>");
  write_file(folder / "configs/games/TheForest/Versions.xml", "<versions/>");
  terminal shell;
  if (forkpty(&shell.fd, nullptr, nullptr, nullptr) == 0) {
    if (chdir(folder.c_str()) == 0) execlp("dash", "dash", "-i", nullptr);
    _exit(127);
  }
  const std::string run = std::string(PROGRAM_PATH) + "\n", pause = "continue . . .";

  shell.type(run);
  ASSERT_TRUE(shell.shows(pause));
  shell.type("\x1a");  // Ctrl+Z
  ASSERT_TRUE(shell.shows("Stopped"));
  EXPECT_TRUE(shell.as_found());
  // The shell may set the terminal as it likes; back, the pause takes up its mode.
  shell.type("stty sane; fg\n");
  EXPECT_FALSE(shell.as_found());
  for (const char* byte : {"\x1b", "[", "A"}) {  // an arrow key, its bytes 30 ms apart
    shell.type(byte);
    std::this_thread::sleep_for(30ms);
  }
  ASSERT_TRUE(shell.shows("Checksum: 3f???????2a9c"));
  ASSERT_TRUE(shell.shows("Version (e.g.: 0.48):"));
  shell.type("0.48 beta\nmore typed ahead\n");
  // The word typed, not the arrow key before it; the checksum is not one to record.
  ASSERT_TRUE(shell.shows("Could not record version 0.48 in"));
  ASSERT_TRUE(shell.shows(pause));
  EXPECT_FALSE(shell.as_found()) << "the pause ended by what was typed ahead";
  shell.type("x");
  EXPECT_TRUE(shell.as_found());
  shell.type("echo status-$?-\n");
  EXPECT_TRUE(shell.shows("status-0-"));

  shell.type(run);
  ASSERT_TRUE(shell.shows(pause));
  shell.type("\x03");  // Ctrl+C
  EXPECT_TRUE(shell.as_found());
  shell.type("echo status-$?-\n");
  EXPECT_TRUE(shell.shows("status-130-"));
}

}  // namespace
