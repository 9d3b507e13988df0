// The whole program, run in a mod tool folder with its input piped in. Each
// row: the files before, what the user types, what the console shows, and
// which files change. Every other file must come back byte for byte.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "program_runner.h"
#include "test_folder.h"

namespace {

using test_support::files_below;
using test_support::fresh_folder;
using test_support::run_program;
using test_support::write_file;

using file_set = std::map<std::string, std::string>;
using file_changes = std::map<std::string, std::optional<std::string>>;  // nullopt: absent

constexpr char kLogPath[] = "logs/Zelbix.log";
constexpr char kConfigPath[] = "configs/UserConfiguration.xml";
constexpr char kCataloguePath[] = "configs/games/TheForest/Versions.xml";

const std::string kLog =
    "[12:00:00] Zelbix 2.1 starting\r\n[12:00:01] Game checksum: 3f2a9c\r\n[12:00:02] Ready\r\n";
const std::string kConfig =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<UserConfiguration>\r\n"
    "  <autoupdate>true</autoupdate>\r\n  <updateversions>true</updateversions>\r\n"
    "  <language>en</language>\r\n</UserConfiguration>\r\n";
const std::string kConfigPatched =
    "<?xml version=\"1.0\"?>\n<UserConfiguration>\n\t<autoupdate>false</autoupdate>\n"
    "\t<updateversions>false</updateversions>\n\t<language>en</language>\n</UserConfiguration>\n";
const std::string kCatalogue =
    "<?xml version=\"1.0\"?>\n<versions>\n\t<version id=\"0.47\">\n\t\t<checksum>aa11</checksum>\n"
    "\t</version>\n</versions>\n";

std::string catalogue_with(const std::string& id, const std::string& checksum = "3f2a9c") {
  return "<?xml version=\"1.0\"?>\n<versions>\n\t<version "
         "id=\"0.47\">\n\t\t<checksum>aa11</checksum>"
         "\n\t</version>\n\t<version id=\"" +
         id + "\">\n\t\t<checksum>" + checksum + "</checksum>\n\t</version>\n</versions>\n";
}

const file_set kModTool = {{kLogPath, kLog}, {kConfigPath, kConfig}, {kCataloguePath, kCatalogue}};

file_set with(file_set files, const file_set& changes) {
  for (const auto& [path, bytes] : changes) files[path] = bytes;
  return files;
}
file_set without(file_set files, const std::string& path) {
  files.erase(path);
  return files;
}

// "{pause}" marks where the program waits for a key.
const std::string kStart = "Start Zelbix, close it and hit enter...\n{pause}";
const std::string kAsk = "Checksum: 3f2a9c\n\nThe Forest Version (e.g.: 0.48):\n";
const std::string kDone = "Done. You can now start Zelbix.\n{pause}";
const std::string kMissing = "Missing version. Examples: 0.48, 0.49b\n{pause}";
const std::string kNoLog =
    "Could not find Logs (logs/Zelbix.log). Make sure it exists and this file is in the same "
    "folder as Zelbix.exe.\n{pause}";
const std::string kNoChecksum = "Checksum not found. Terminating...\n{pause}";
const std::string kNotSwitchedOff =
    ". The settings autoupdate and updateversions were not switched off.\n";

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
     {{kConfigPath, kConfigPatched}, {kCataloguePath, catalogue_with("0.48")}}},
    {"letters after the point",
     kModTool,
     "0.49b\n",
     kStart + kAsk + kDone,
     {{kConfigPath, kConfigPatched}, {kCataloguePath, catalogue_with("0.49b")}}},
    {"a lone point is a version",
     kModTool,
     " \t.\n",
     kStart + kAsk + kDone,
     {{kConfigPath, kConfigPatched}, {kCataloguePath, catalogue_with(".")}}},
    {"only the first word counts",
     kModTool,
     "0.50 beta\n",
     kStart + kAsk + kDone,
     {{kConfigPath, kConfigPatched}, {kCataloguePath, catalogue_with("0.50")}}},
    {"quote and ampersand escaped",
     kModTool,
     "0.5\"&x\n",
     kStart + kAsk + kDone,
     {{kConfigPath, kConfigPatched}, {kCataloguePath, catalogue_with("0.5&quot;&amp;x")}}},
    {"a version is recorded again",
     with(kModTool, {{kCataloguePath, catalogue_with("0.48")}}),
     "0.48\n",
     kStart + kAsk + kDone,
     {{kConfigPath, kConfigPatched},
      {kCataloguePath,
       "<?xml version=\"1.0\"?>\n<versions>\n\t<version id=\"0.47\">\n\t\t<checksum>aa11</checksum>"
       "\n\t</version>\n\t<version id=\"0.48\">\n\t\t<checksum>3f2a9c</checksum>\n\t</version>\n"
       "\t<version id=\"0.48\">\n\t\t<checksum>3f2a9c</checksum>\n\t</version>\n</versions>\n"}}},
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
    {"marked line ends in a space",
     with(kModTool, {{kLogPath, "Game checksum: \nGame checksum: 1\n"}}),
     "0.48\n",
     kStart + kNoChecksum,
     {}},
    {"missing settings file is created",
     without(kModTool, kConfigPath),
     "0.48\n",
     kStart + kAsk + kDone,
     {{kConfigPath, "<?xml version=\"1.0\"?>\n"}, {kCataloguePath, catalogue_with("0.48")}}},
    {"broken settings file is left alone",
     with(kModTool, {{kConfigPath, "<UserConfiguration>"}}),
     "0.48\n",
     kStart +
         "Checksum: 3f2a9c\n\nCould not update configs/UserConfiguration.xml: the file is not "
         "well-formed XML (Start-end tags mismatch at offset 18)" +
         kNotSwitchedOff + "The Forest Version (e.g.: 0.48):\n" + kDone,
     {{kCataloguePath, catalogue_with("0.48")}}},
    {"no configs folder",
     {{kLogPath, kLog}},
     "0.48\n",
     kStart +
         "Checksum: 3f2a9c\n\nCould not update configs/UserConfiguration.xml: the folder does "
         "not exist" +
         kNotSwitchedOff +
         "The Forest Version (e.g.: 0.48):\nCould not record version 0.48 in "
         "configs/games/TheForest/Versions.xml: the file does not exist.\n{pause}",
     {}},
    {"catalogue without versions",
     with(kModTool, {{kCataloguePath, "<catalogue/>"}}),
     "0.48\n",
     kStart + kAsk +
         "Could not record version 0.48 in configs/games/TheForest/Versions.xml: the file has no "
         "versions element.\n{pause}",
     {{kConfigPath, kConfigPatched}}},
    {"broken catalogue",
     with(kModTool, {{kCataloguePath, "<versions><version id=\"1\">"}}),
     "0.48\n",
     kStart + kAsk +
         "Could not record version 0.48 in configs/games/TheForest/Versions.xml: the file is not "
         "well-formed XML (Start-end tags mismatch at offset 25).\n{pause}",
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
     {{kConfigPath, kConfigPatched}, {kCataloguePath, catalogue_with("0.48")}}},
};

std::string expected_output(const std::string& with_pauses) {
  const std::string pause = test_support::windows_program() ? "Press any key to continue... " : "";
  std::string out = with_pauses;
  for (std::size_t at; (at = out.find("{pause}")) != std::string::npos;) {
    out.replace(at, 7, pause);
  }
  return out;
}

// Runs `row`'s input in a folder holding its files, and checks the console,
// the exit status and every file afterwards.
void check_row(const scenario& row, const std::string& arguments = "") {
  const auto folder = fresh_folder() / "modtool";
  std::filesystem::create_directories(folder);
  for (const auto& [path, bytes] : row.before) write_file(folder / path, bytes);
  const file_set before = files_below(folder);

  const auto run = run_program(folder, row.input, "", arguments);

  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.output, expected_output(row.output));
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
