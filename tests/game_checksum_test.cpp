// The log scan: the first line holding "Game checksum" decides, and the
// checksum is the text after its last space.
#include "log/game_checksum.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_folder.h"

namespace {

using test_support::fresh_folder;
using test_support::write_file;
using updater::mod_tool_log;
namespace fs = std::filesystem;

struct scan_case {
  const char* name;
  std::string log;
  std::string checksum;
};
void PrintTo(const scan_case& row, std::ostream* out) {
  *out << row.name;
}

const std::vector<scan_case> kScanCases = {
    {"among other lines", "boot\nloading mods\n[12:00:01] Game checksum: 3f2a9c\nready\n",
     "3f2a9c"},
    {"line ends in a space", "Game checksum: \nGame checksum: 77\n", ""},
    {"last space wins", "Game checksum: 3f2a 9c\n", "9c"},
    {"first marked line wins", "Game checksum: 111\nGame checksum: 222\n", "111"},
    {"crlf line ends", "start\r\nGame checksum: 3f2a9c\r\nend\r\n", "3f2a9c"},
    {"crlf after a trailing space", "Game checksum: 3f2a9c \r\n", ""},
    {"lone carriage return stays", "Game checksum: 3f\r2a\n", "3f\r2a"},
    {"carriage return at the very end stays", "Game checksum: 3f2a9c\r", "3f2a9c\r"},
    {"last line without line end", "a\nb Game checksum: x y z", "z"},
    {"nul byte is an ordinary byte",
     std::string("Game checksum: 3f\0"
                 "2a\n",
                 20),
     std::string("3f\0"
                 "2a",
                 5)},
    {"empty log", "", ""},
};

class ScanTest : public testing::TestWithParam<scan_case> {};

// Through a real file, opened in the platform's text mode.
TEST_P(ScanTest, FromLogFile) {
  const scan_case& row = GetParam();
  const fs::path path = fresh_folder() / "Zelbix.log";
  write_file(path, row.log);
  mod_tool_log log(path.string());
  ASSERT_TRUE(log.log_is_readable());
  EXPECT_EQ(log.find_game_checksum(), row.checksum);
}

INSTANTIATE_TEST_SUITE_P(Rows, ScanTest, testing::ValuesIn(kScanCases), test_support::row_name());

}  // namespace
