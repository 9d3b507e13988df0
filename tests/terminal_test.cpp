// The program in a real terminal, started from a shell with job control as a
// user starts it. The pause waits for one key, swallows what was typed ahead
// and the tail of a key that sends several bytes, and leaves the terminal as
// it found it, also when Ctrl+Z stops it and when Ctrl+C ends it; each byte of
// a control character in the checksum, and each byte that is not UTF-8,
// reaches the terminal as "?".
// And the Windows program in a real console: Wine started in a tmux pane,
// whose keys reach ReadConsoleW and whose Ctrl+C reaches the console control
// handler.
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "support.h"

namespace {

using namespace std::chrono_literals;
using namespace test_support;

const char* const kWindowsProgram = std::getenv("VERSION_UPDATER_WINDOWS_PROGRAM");

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
  if (kWindowsProgram) GTEST_SKIP();
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
  ASSERT_TRUE(shell.shows("Checksum: 3f?????2a9c"));
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

  // Started with Ctrl+C ignored, it stays so at the pause; Ctrl+\\ ends it there.
  shell.type("(trap '' INT; exec " + run.substr(0, run.size() - 1) + ")\n");
  ASSERT_TRUE(shell.shows(pause));
  shell.type("\x03");  // Ctrl+C
  EXPECT_FALSE(shell.as_found());
  shell.type("\x1c");
  EXPECT_TRUE(shell.as_found());
  shell.type("echo status-$?-\n");
  EXPECT_TRUE(shell.shows("status-131-"));
}

// Runs a Windows program of the build under Wine: the start of a shell line.
std::string wine(const std::string& program) {
  const fs::path build = fs::path(kWindowsProgram).parent_path();
  return "LANG=C.UTF-8 WINEPREFIX=" + shell_word(build / "wine") + " WINEDEBUG=-all wine " +
         shell_word(build / program);
}

// A tmux server of its own; each command runs in a new session, which gets the keys.
struct wine_console {
  const std::string tmux =
      "env -u TMUX LC_ALL=C.UTF-8 tmux -u -L version-updater-" + std::to_string(getpid()) + " ";
  int runs = 0;
  ~wine_console() { run("kill-server"); }

  std::string run(const std::string& command) {  // a tmux command; gives its output
    std::string out(1 << 16, '\0');
    std::FILE* pipe = popen((tmux + command + " 2>/dev/null").c_str(), "r");
    out.resize(std::fread(out.data(), 1, out.size(), pipe));
    pclose(pipe);
    return out;
  }
  // True once `text` shows; false when the command ended without it, or after a minute.
  bool shows(const std::string& text) {
    for (int i = 0; i < 1200; std::this_thread::sleep_for(50ms), ++i) {
      const std::string screen = run("capture-pane -p -J -S - -t " + std::to_string(runs));
      if (screen.find(text) != std::string::npos) return true;
      if (screen.find("[exit ") != std::string::npos) return false;
    }
    return false;
  }
  // Runs `command` in `folder`; true once the updater's first line shows. A
  // Wine that ends before anything shows never reached the program: it is
  // started again.
  bool start(const fs::path& folder, const std::string& command) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      run("new-session -d -s " + std::to_string(++runs) + " -x 300 -y 50 -c " + shell_word(folder) +
          " " + shell_word(command + "; echo \"[exit $?]\"; sleep 600"));
      run("kill-session -t " + std::to_string(runs - 1));
      if (shows("Start Zelbix")) return true;
    }
    return false;
  }
  // Sends keys: names such as Enter or C-c, or text.
  void press(const std::string& keys) { run("send-keys -t " + std::to_string(runs) + " " + keys); }
};

TEST(Terminal, TheWindowsProgramInAConsoleUnderWine) {
  if (!kWindowsProgram) GTEST_SKIP();
  const fs::path folder = fresh_folder() / "modtool",
                 catalogue = folder / "configs/games/TheForest/Versions.xml";
  write_file(folder / "logs/Zelbix.log", "Game checksum: 3f2a9c\n");
  write_file(catalogue, "<versions/>");
  // A parent that switched the console's line input, Ctrl+C and processed output off
  // shows the modes it gets back.
  const std::string version = "0.48-\u0451\u0436", updater = wine("version-updater.exe"),
                    line_input_off =
                        wine("tests/hold_file.exe") + " console 0 " + shell_word(kWindowsProgram);
  wine_console console;
  const auto at_the_prompt = [&](const std::string& command) {
    ASSERT_TRUE(console.start(folder, command) && console.shows("continue"));
    console.press("0.48 Enter");  // typed ahead of the version: swallowed by the pause
    ASSERT_TRUE(console.shows("Version (e.g.: 0.48):"));
  };

  at_the_prompt(line_input_off);
  console.press(shell_word(version) + " Enter");
  ASSERT_TRUE(console.shows("Done."));
  console.press("Enter");
  EXPECT_TRUE(console.shows("modes afterwards: 0 0\n"));
  EXPECT_NE(read_file(catalogue).find("id=\"" + version + "\""), std::string::npos);

  // Typed as key events, which tmux cannot send: the letters, a lone surrogate, Enter.
  at_the_prompt(line_input_off);
  write_file(folder / "keys", std::string("0\0.\0"
                                          "4\0"
                                          "8\0-\0Q\4"
                                          "6\4\0\xD8\r\0",
                                          18));
  EXPECT_TRUE(console.shows("Could not record version " + version + "??? in"));

  at_the_prompt(line_input_off);
  console.press("0.4");
  ASSERT_TRUE(console.shows("):\n0.4"));  // echoed: the read has set the console's mode
  console.press("C-c");
  EXPECT_TRUE(console.shows("modes afterwards: 0 0\n"));

  // Ctrl+C at the pause, which reads keys as events: the modes come back too.
  ASSERT_TRUE(console.start(folder, line_input_off) && console.shows("continue"));
  console.press("C-c");
  EXPECT_TRUE(console.shows("modes afterwards: 0 0\n"));

  // Ctrl+C while the rewrite waits for another program that holds the
  // catalogue, and lets go of it half a second later: nothing is replaced.
  const std::string before = read_file(catalogue);
  const auto temporary_file = [&] {
    return std::system(("ls " + shell_word(catalogue) + ".tmp-* >/dev/null 2>&1").c_str()) == 0;
  };
  at_the_prompt(updater);
  std::FILE* holder = popen(("cd " + shell_word(folder) + " && " + wine("tests/hold_file.exe") +
                             " share configs/games/TheForest/Versions.xml - > ../held 2>&-")
                                .c_str(),
                            "w");  // holds the catalogue until its input ends
  for (int i = 0; i < 6000 && read_file(folder / "../held").empty(); ++i) {
    std::this_thread::sleep_for(10ms);
  }
  console.press("0.48 Enter");
  for (int i = 0; i < 6000 && !temporary_file(); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(temporary_file());
  console.press("C-c");
  std::this_thread::sleep_for(500ms);
  pclose(holder);
  EXPECT_TRUE(console.shows("[exit "));
  EXPECT_FALSE(console.shows("Could not"));
  EXPECT_EQ(read_file(catalogue), before);
  EXPECT_FALSE(temporary_file());
}

}  // namespace
