#include "program_runner.h"

#include <sys/wait.h>

#include <cstdlib>

#include "file_bytes.h"

namespace test_support {
namespace {

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

bool windows_program() {
  return std::getenv("VERSION_UPDATER_WINDOWS_PROGRAM") != nullptr;
}

program_run run_program(const std::filesystem::path& folder, const std::string& input,
                        const std::string& wrapper, const std::string& arguments) {
  const std::filesystem::path io = folder.parent_path() / (folder.filename().string() + ".io");
  const char* windows = std::getenv("VERSION_UPDATER_WINDOWS_PROGRAM");
  write_file(io / "stdin", input);

  // Wine keeps its prefix beside the Windows program.
  const std::string program =
      windows ? "WINEPREFIX=" +
                    quoted((std::filesystem::path(windows).parent_path() / "wine").string()) + " " +
                    quoted(WINE_RUNNER) + " " + quoted(windows)
              : quoted(PROGRAM_PATH);
  const std::string line = "cd " + quoted(folder.string()) + " && " + wrapper + " " + program +
                           " " + arguments + " < " + quoted((io / "stdin").string()) + " > " +
                           quoted((io / "stdout").string()) + " 2> " +
                           quoted((io / "stderr").string());
  const int status = std::system(line.c_str());

  program_run run;
  run.output = read_file(io / "stdout");
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (windows) {
    // The Windows console writes CR LF; the lines themselves must match.
    std::string lines;
    for (std::size_t i = 0; i < run.output.size(); ++i) {
      if (run.output[i] == '\r' && i + 1 < run.output.size() && run.output[i + 1] == '\n') continue;
      lines += run.output[i];
    }
    run.output = lines;
  }
  return run;
}

std::map<std::string, std::string> files_below(const std::filesystem::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files[entry.path().lexically_relative(folder).generic_string()] = read_file(entry.path());
    }
  }
  return files;
}

}  // namespace test_support
