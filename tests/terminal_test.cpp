// The pause in a real terminal: it waits for a key, swallows what was typed
// ahead and the tail of a multi-byte key, and leaves the terminal as it was.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "test_folder.h"

namespace {

using namespace std::chrono_literals;
using test_support::fresh_folder;
using test_support::read_file;
using test_support::write_file;

constexpr char kPause[] = "Press any key to continue . . . ";

class terminal_run {
 public:
  explicit terminal_run(const std::filesystem::path& folder) {
    pid_ = forkpty(&terminal_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      if (chdir(folder.c_str()) == 0) execl(PROGRAM_PATH, PROGRAM_PATH, nullptr);
      _exit(127);
    }
  }
  ~terminal_run() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (terminal_ >= 0) close(terminal_);
  }

  // Reads the screen until `text` has appeared `count` times in all, or five seconds pass.
  bool shows(const std::string& text, int count = 1) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (occurrences(text) < count && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{terminal_, POLLIN, 0};
      if (poll(&ready, 1, 50) <= 0) continue;
      char bytes[256];
      const ssize_t got = read(terminal_, bytes, sizeof bytes);
      if (got <= 0) break;
      screen_.append(bytes, std::size_t(got));
    }
    return occurrences(text) >= count;
  }

  void type(const std::string& keys) {
    ASSERT_EQ(write(terminal_, keys.data(), keys.size()), ssize_t(keys.size()));
  }

  // True when the program is still waiting after a short while.
  bool still_waiting() {
    std::this_thread::sleep_for(300ms);
    return waitpid(pid_, &status_, WNOHANG) == 0;
  }

  int wait_for_exit() {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!exited_ && std::chrono::steady_clock::now() < deadline) {
      shows("\x01never");  // keep draining the screen so the program can finish
      exited_ = waitpid(pid_, &status_, WNOHANG) == pid_;
    }
    return status_;
  }

  termios settings() const {
    termios now{};
    tcgetattr(terminal_, &now);
    return now;
  }

 private:
  int occurrences(const std::string& text) const {
    int count = 0;
    for (auto at = screen_.find(text); at != std::string::npos; at = screen_.find(text, at + 1))
      ++count;
    return count;
  }

  int terminal_ = -1;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;
  std::string screen_;
};

std::filesystem::path mod_tool() {
  const auto folder = fresh_folder() / "modtool";
  write_file(folder / "logs/Zelbix.log", "Game checksum: 3f2a9c\n");
  write_file(folder / "configs/UserConfiguration.xml", "<UserConfiguration/>");
  write_file(folder / "configs/games/TheForest/Versions.xml", "<versions/>");
  return folder;
}

TEST(Terminal, KeysDoNotLeakIntoTheVersion) {
  const auto folder = mod_tool();
  terminal_run run(folder);
  ASSERT_TRUE(run.shows(kPause));
  EXPECT_TRUE(run.still_waiting());
  run.type("\x1b[A");  // an arrow key sends three bytes
  ASSERT_TRUE(run.shows("The Forest Version (e.g.: 0.48):"));
  run.type("0.48 beta\nmore typed ahead\n");
  ASSERT_TRUE(run.shows("Done. You can now start Zelbix."));
  ASSERT_TRUE(run.shows(kPause, 2));
  // Neither the rest of the version's line nor the next line ends the pause.
  EXPECT_TRUE(run.still_waiting());
  run.type("x");
  const int status = run.wait_for_exit();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read_file(folder / "configs/games/TheForest/Versions.xml"),
            "<?xml version=\"1.0\"?>\n<versions>\n\t<version id=\"0.48\">\n"
            "\t\t<checksum>3f2a9c</checksum>\n\t</version>\n</versions>\n");
  const termios after = run.settings();
  EXPECT_TRUE(after.c_lflag & ICANON);
  EXPECT_TRUE(after.c_lflag & ECHO);
}

TEST(Terminal, CtrlCAtThePauseRestoresTheTerminal) {
  terminal_run run(mod_tool());
  ASSERT_TRUE(run.shows(kPause));
  run.type("\x03");
  const int status = run.wait_for_exit();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  const termios after = run.settings();
  EXPECT_TRUE(after.c_lflag & ICANON);
  EXPECT_TRUE(after.c_lflag & ECHO);
}

}  // namespace
