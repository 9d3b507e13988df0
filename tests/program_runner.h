// Runs the finished program the way a user does: in a mod tool folder, with
// its standard input and output redirected.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace test_support {

struct program_run {
  std::string output;  // standard output
  int exit_status = -1;
};

// True when the rows run against the Windows program under Wine.
bool windows_program();

// Runs the program in `folder` with `input` on standard input. `wrapper` is
// put in front of the program on the shell line (for limits or another user),
// `arguments` after it.
program_run run_program(const std::filesystem::path& folder, const std::string& input,
                        const std::string& wrapper = "", const std::string& arguments = "");

// Every regular file below `folder`, by path relative to it with "/".
std::map<std::string, std::string> files_below(const std::filesystem::path& folder);

}  // namespace test_support
