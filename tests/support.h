// What every test needs: a fresh folder of its own, a file's bytes, and the
// Windows program under Wine when the suite runs against it.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace test_support {

namespace fs = std::filesystem;

inline void write_file(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The Windows program, when the suite runs against it under Wine.
inline const char* const kWindowsProgram = std::getenv("VERSION_UPDATER_WINDOWS_PROGRAM");

// `text` quoted for a POSIX shell.
inline std::string shell_word(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a Windows program of the build under Wine: the start of a shell line.
inline std::string wine(const std::string& program) {
  const fs::path build = fs::path(kWindowsProgram).parent_path();
  return "LANG=C.UTF-8 WINEPREFIX=" + shell_word((build / "wine").string()) +
         " WINEDEBUG=-all wine " + shell_word((build / program).string());
}

// An empty folder for the running test, below one whose name is not ASCII,
// so that every path the program is given holds Cyrillic and CJK letters.
inline fs::path fresh_folder() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(kWindowsProgram                          ? "windows."
                                 : std::getenv("VERSION_UPDATER_PROGRAM") ? "release."
                                                                          : "") +
                     test->test_suite_name() + "." + test->name();
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  const fs::path folder =
      fs::temp_directory_path() / fs::u8path(u8"version-updater-проверка-測試") / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

}  // namespace test_support
