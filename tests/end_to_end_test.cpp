// The whole program, run in a mod tool folder with its input piped in. Each
// row: the files before, what the user types, what the console shows, and
// which files change. Every other file must come back byte for byte.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mod_tool.h"
#include "program_runner.h"
#include "test_folder.h"

namespace {

using namespace test_support;

using file_set = std::map<std::string, std::string>;
using file_changes = std::map<std::string, std::optional<std::string>>;  // nullopt: absent

const std::string kCatalogue = catalogue(1);
const file_set kModTool = {{kLogPath, kLog}, {kConfigPath, kConfig}, {kCataloguePath, kCatalogue}};

file_set with(file_set files, const file_set& changes) {
  for (const auto& [path, bytes] : changes) files[path] = bytes;
  return files;
}
file_set without(file_set files, const std::string& path) {
  files.erase(path);
  return files;
}

struct scenario {
  const char* name;
  file_set before;
  std::string input;
  std::string output;
  file_changes after;
};
void PrintTo(const scenario& row, std::ostream* out) {
  *out << row.name;
}

const std::vector<scenario> kScenarios = {
    {"records a version",
     kModTool,
     "0.48\n",
     kStart + kAsk + kDone,
     {{kConfigPath, kConfigPatched}, {kCataloguePath, recorded(kCatalogue)}}},
    {"a lone point is a version",
     kModTool,
     " \t.\n",
     kStart + kAsk + kDone,
     {{kConfigPath, kConfigPatched}, {kCataloguePath, recorded(kCatalogue, ".")}}},
    {"only the first word counts",
     kModTool,
     "0.50 beta\n",
     kStart + kAsk + kDone,
     {{kConfigPath, kConfigPatched}, {kCataloguePath, recorded(kCatalogue, "0.50")}}},
    {"quote and ampersand escaped",
     kModTool,
     "0.5\"&x\n",
     kStart + kAsk + kDone,
     {{kConfigPath, kConfigPatched}, {kCataloguePath, recorded(kCatalogue, "0.5&quot;&amp;x")}}},
    {"a version is recorded again",
     with(kModTool, {{kCataloguePath, recorded(kCatalogue)}}),
     "0.48\n",
     kStart + kAsk + kDone,
     {{kConfigPath, kConfigPatched}, {kCataloguePath, recorded(recorded(kCatalogue))}}},
    {"no point is refused but settings are off",
     kModTool,
     "48\n",
     kStart + kAsk + kMissing,
     {{kConfigPath, kConfigPatched}}},
    {"end of input is refused",
     kModTool,
     "  \n\n",
     kStart + kAsk + kMissing,
     {{kConfigPath, kConfigPatched}}},
    {"no log", without(kModTool, kLogPath), "0.48\n", kStart + kNoLog, {}},
    {"log is a folder",
     with(without(kModTool, kLogPath), {{"logs/Zelbix.log/x", ""}}),
     "0.48\n",
     kStart + kNoLog,
     {}},
    {"empty log", with(kModTool, {{kLogPath, ""}}), "0.48\n", kStart + kNoChecksum, {}},
    {"missing settings file is created",
     without(kModTool, kConfigPath),
     "0.48\n",
     kStart + kAsk + kDone,
     {{kConfigPath, "<?xml version=\"1.0\"?>\n"}, {kCataloguePath, recorded(kCatalogue)}}},
    {"broken settings file is left alone",
     with(kModTool, {{kConfigPath, "<UserConfiguration>"}}),
     "0.48\n",
     kStart + kChecksum +
         settings_not_updated(
             "the file is not well-formed XML (Start-end tags mismatch at offset 18)") +
         kPrompt + kDone,
     {{kCataloguePath, recorded(kCatalogue)}}},
    {"no configs folder",
     {{kLogPath, kLog}},
     "0.48\n",
     kStart + kChecksum + settings_not_updated("the folder does not exist") + kPrompt +
         not_recorded("the file does not exist"),
     {}},
    {"catalogue without versions",
     with(kModTool, {{kCataloguePath, "<catalogue/>"}}),
     "0.48\n",
     kStart + kAsk + not_recorded("the file has no versions element"),
     {{kConfigPath, kConfigPatched}}},
    {"broken catalogue",
     with(kModTool, {{kCataloguePath, "<versions><version id=\"1\">"}}),
     "0.48\n",
     kStart + kAsk +
         not_recorded("the file is not well-formed XML (Start-end tags mismatch at offset 25)"),
     {{kConfigPath, kConfigPatched}}},
    {"broken catalogue and a refused version",
     with(kModTool, {{kCataloguePath, "<versions><version id=\"1\">"}}),
     "48\n",
     kStart + kAsk + kMissing,
     {{kConfigPath, kConfigPatched}}},
    {"log with a nul byte",
     with(kModTool, {{kLogPath, std::string("a\0b\nGame checksum: 3f2a9c\n", 26)}}),
     "0.48\n",
     kStart + kAsk + kDone,
     {{kConfigPath, kConfigPatched}, {kCataloguePath, recorded(kCatalogue)}}},
};

// Runs `row`'s input in a folder holding its files, and checks the console,
// the exit status and every file afterwards.
void check_row(const scenario& row, const std::string& arguments = "") {
  const auto folder = fresh_folder() / "modtool";
  std::filesystem::create_directories(folder);
  for (const auto& [path, bytes] : row.before) write_file(folder / path, bytes);
  const file_set before = files_below(folder);

  const auto run = run_program(folder, row.input, "", arguments);

  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.output, on_console(row.output));
  file_set expected = before;
  for (const auto& [path, bytes] : row.after) {
    if (bytes) {
      expected[path] = *bytes;
    } else {
      expected.erase(path);
    }
  }
  EXPECT_EQ(files_below(folder), expected);
}

class EndToEndTest : public testing::TestWithParam<scenario> {};

TEST_P(EndToEndTest, ConsoleAndFiles) {
  check_row(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rows, EndToEndTest, testing::ValuesIn(kScenarios),
                         test_support::row_name());

TEST(EndToEnd, ArgumentsHaveNoEffect) {
  check_row(kScenarios.front(), "--help '/?' 0.49 logs/other.log");
}

}  // namespace
