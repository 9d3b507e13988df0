// The program in a real terminal, a tmux pane, started from a shell with job
// control as a user starts it. The pause waits for one key, swallows what was
// typed ahead and the tail of a key that sends several bytes, and leaves the
// terminal as it found it, also when Ctrl+Z stops it and when a signal ends
// it, and a signal ignored at the start stays ignored there; a control
// character in the checksum, and each byte that is not UTF-8, reaches the
// terminal as "?". And the Windows program in a real console: Wine started in
// a tmux pane, whose keys reach ReadConsoleW and whose Ctrl+C reaches the
// console control handler.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "support.h"

namespace {

using namespace std::chrono_literals;
using namespace test_support;

std::string output_of(const std::string& command) {
  std::string out(1 << 16, '\0');
  std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  out.resize(std::fread(out.data(), 1, out.size(), pipe));
  pclose(pipe);
  return out;
}

// A tmux server of its own; each command runs in a new session, which gets the keys.
struct terminal {
  const std::string tmux =
      "env -u TMUX LC_ALL=C.UTF-8 tmux -u -L version-updater-" + std::to_string(getpid()) + " ";
  int runs = 0;
  ~terminal() { run("kill-server"); }

  std::string run(const std::string& command) { return output_of(tmux + command); }
  // True once `text` shows `times` times; false when the command ended
  // without it, or after a minute.
  bool shows(const std::string& text, int times = 1) {
    for (int i = 0; i < 1200; std::this_thread::sleep_for(50ms), ++i) {
      const std::string screen = run("capture-pane -p -J -S - -t " + std::to_string(runs));
      std::size_t at = 0;
      for (int found = 0; (at = screen.find(text, at)) != std::string::npos; ++at) {
        if (++found == times) return true;
      }
      if (screen.find("[exit ") != std::string::npos) return false;
    }
    return false;
  }
  // Runs `command` in `folder`; true once `first` shows. A Wine that ends
  // before anything shows never reached the program: it is started again.
  bool start(const fs::path& folder, const std::string& command,
             const std::string& first = "Start Zelbix") {
    for (int attempt = 0; attempt < 3; ++attempt) {
      run("new-session -d -s " + std::to_string(++runs) + " -x 300 -y 50 -c " + shell_word(folder) +
          " " + shell_word(command + "; echo \"[exit $?]\"; sleep 600"));
      run("kill-session -t " + std::to_string(runs - 1));
      if (shows(first)) return true;
    }
    return false;
  }
  // Sends keys: names such as Enter or C-c, or text; `-H` and bytes in hexadecimal.
  void press(const std::string& keys) { run("send-keys -t " + std::to_string(runs) + " " + keys); }
  // True when the terminal echoes and reads whole lines, as a shell leaves it.
  bool as_found() {
    std::this_thread::sleep_for(300ms);
    const std::string mode = output_of("stty -a -F $(" + tmux + "display -p -t " +
                                       std::to_string(runs) + " '#{pane_tty}')");
    return mode.find(" icanon") != std::string::npos && mode.find(" echo ") != std::string::npos;
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
  ASSERT_TRUE(shell.start(folder, "PS1=\"$ \" dash -i", "$ "));
  const std::string run = shell_word(PROGRAM_PATH), pause = "continue . . .";

  // Started with Ctrl+C ignored, as a script's background job is: it stays so at the pause.
  shell.press(shell_word("(trap '' INT; exec " + run + ")") + " Enter");
  ASSERT_TRUE(shell.shows(pause));
  shell.press("-H 03");  // Ctrl+C
  shell.press("-H 1a");  // Ctrl+Z
  ASSERT_TRUE(shell.shows("Stopped"));
  EXPECT_TRUE(shell.as_found());
  // The shell may set the terminal as it likes; back, the pause takes up its mode.
  shell.press("'stty sane; fg' Enter");
  EXPECT_FALSE(shell.as_found());
  for (const char* byte : {"1b", "5b", "41"}) {  // an arrow key, its bytes 30 ms apart
    shell.press(std::string("-H ") + byte);
    std::this_thread::sleep_for(30ms);
  }
  ASSERT_TRUE(shell.shows("Checksum: 3f?????2a9c"));
  ASSERT_TRUE(shell.shows("Version (e.g.: 0.48):"));
  shell.press("'0.48 beta' Enter 'more typed ahead' Enter");
  // The word typed, not the arrow key before it; the checksum is not one to record.
  ASSERT_TRUE(shell.shows("Could not record version 0.48 in"));
  ASSERT_TRUE(shell.shows(pause, 2));
  EXPECT_FALSE(shell.as_found()) << "the pause ended by what was typed ahead";
  shell.press("-H 1c");  // Ctrl+\, which ends it and gives the terminal back
  EXPECT_TRUE(shell.as_found());
  shell.press("'echo status-$?-' Enter");
  EXPECT_TRUE(shell.shows("status-131-"));
}

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
  terminal console;
  const auto at_the_prompt = [&](const std::string& command) {
    ASSERT_TRUE(console.start(folder, command) && console.shows("continue"));
    std::this_thread::sleep_for(300ms);  // a pause that keys typed before it ended is over
    console.press("0.48 Enter");         // typed ahead of the version: swallowed by the pause
    ASSERT_TRUE(console.shows("Version (e.g.: 0.48):"));
  };

  write_file(folder / "keys", std::string("0\0.\0004\0\r\0", 8));  // before the pause: dropped
  at_the_prompt(line_input_off);
  console.press(shell_word(version) + " Enter");
  ASSERT_TRUE(console.shows("Done."));
  console.press("Enter");
  EXPECT_TRUE(console.shows("modes afterwards: 0 0\n"));
  EXPECT_NE(read_file(catalogue).find("id=\"" + version + "\""), std::string::npos);

  // Typed as key events, which tmux cannot send: the letters, a lone low and a lone high
  // surrogate, Enter.
  at_the_prompt(line_input_off);
  write_file(folder / "keys", std::string("0\0.\0"
                                          "4\0"
                                          "8\0-\0Q\4"
                                          "6\4\0\xDC\0\xD8\r\0",
                                          20));
  EXPECT_TRUE(console.shows("Could not record version " + version + "?????? in"));

  at_the_prompt(line_input_off);
  console.press("0.4");
  ASSERT_TRUE(console.shows("):\n0.4"));  // echoed: the read has set the console's mode
  console.press("C-c");
  EXPECT_TRUE(console.shows("modes afterwards: 0 0\n"));

  // Ctrl+C at the pause, which reads keys as events: the modes come back too.
  ASSERT_TRUE(console.start(folder, line_input_off) && console.shows("continue"));
  console.press("C-c");
  EXPECT_TRUE(console.shows("modes afterwards: 0 0\n"));

  // Ctrl+C while the rewrite of a large catalogue waits for another program that
  // holds the old one, and lets go of it a second later: nothing is replaced.
  const std::string large = "<versions a='" + std::string(8 << 20, 'x') + "'/>";
  write_file(catalogue, large);
  const auto held = [&](const std::string& word) {
    for (int i = 0; i < 6000 && read_file(folder / "../held").find(word) == std::string::npos;
         ++i) {
      std::this_thread::sleep_for(10ms);
    }
  };
  at_the_prompt(updater);
  ASSERT_EQ(std::system(("cd " + shell_word(folder) + " && " + wine("tests/hold_file.exe") +
                         " grab configs/games/TheForest/Versions.xml 1000 > ../held &")
                            .c_str()),
            0);
  held("watching");
  console.press("0.48 Enter");
  held("held");
  console.press("C-c");
  EXPECT_TRUE(console.shows("[exit "));
  EXPECT_FALSE(console.shows("Could not"));
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(read_file(catalogue) == large);
  EXPECT_NE(std::system(("ls " + shell_word(catalogue) + ".tmp-* 2>/dev/null").c_str()), 0);
}

}  // namespace
