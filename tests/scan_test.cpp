// The log scan: the first line holding "Game checksum" decides, and the
// checksum is the text after its last space. Each log is scanned as bytes fed
// in every chunk size from 1 to 40, so that chunk edges fall everywhere, and
// once through a real file opened as the program opens the log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/game_checksum.h"
#include "support.h"

namespace {

using namespace std::string_literals;

struct scan_case {
  const char* name;
  std::string log, checksum;
  friend void PrintTo(const scan_case& row, std::ostream* out) { *out << row.name; }
};

const std::vector<scan_case> kScanCases = {
    {"among other lines", "boot\nloading\n[12:00:01] Game checksum: 3f2a9c\nready\n", "3f2a9c"},
    {"the marker alone", "Game checksum\n", "checksum"},
    {"the first marked line wins even when empty", "Game checksum: \nGame checksum: 77\n", ""},
    {"the last space wins", "xx Game checksum: 3f2a 9c\nGame checksum: 1\n", "9c"},
    {"only a space separates", "Game checksum:\t3f2a9c\n", "checksum:\t3f2a9c"},
    {"case matters", "game checksum: 1\nGAME CHECKSUM: 2\n", ""},
    {"crlf line ends", "start\r\nGame checksum: 3f2a9c\r\nend\r\n", "3f2a9c"},
    {"crlf after a trailing space", "Game checksum: 3f2a9c \r\n", ""},
    {"a lone carriage return stays", "Game checksum: 3f\r2a\n", "3f\r2a"},
    {"only one carriage return belongs to the line end", "Game checksum: 3f\r\r\n", "3f\r"},
    {"a carriage return at the very end stays", "Game checksum: 3f2a9c\r", "3f2a9c\r"},
    {"the last line needs no line end", "a\nb Game checksum: x y z", "z"},
    {"a null is an ordinary byte", "a\0b Game checksum: 3f\0x\n"s, "3f\0x"s},
    {"so is 0x1A", "\x1a\nGame checksum: 3f\x1a\r\n", "3f\x1a"},
};

class ScanTest : public testing::TestWithParam<scan_case> {};

TEST_P(ScanTest, InEveryChunkingAndFromAFile) {
  const scan_case& row = GetParam();
  for (std::size_t chunk = 1; chunk <= 40; ++chunk) {
    updater::checksum_scanner scanner;
    for (std::size_t at = 0; at < row.log.size(); at += chunk) {
      if (scanner.feed(row.log.data() + at, std::min(chunk, row.log.size() - at))) break;
    }
    ASSERT_EQ(scanner.finish(), row.checksum) << "fed in chunks of " << chunk;
  }

  const auto path = test_support::fresh_folder() / "Zelbix.log";
  test_support::write_file(path, row.log);
  updater::mod_tool_log log(path.u8string());
  ASSERT_TRUE(log.log_is_readable());
  EXPECT_EQ(log.find_game_checksum(), row.checksum);
}

INSTANTIATE_TEST_SUITE_P(Rows, ScanTest, testing::ValuesIn(kScanCases));

// The scan opens the log again: a log removed since the first open yields nothing.
TEST(ModToolLog, ALogRemovedBetweenItsTwoOpensGivesNoChecksum) {
  const auto path = test_support::fresh_folder() / "Zelbix.log";
  test_support::write_file(path, "Game checksum: 3f2a9c\n");
  updater::mod_tool_log log(path.u8string());
  ASSERT_TRUE(log.log_is_readable() && std::filesystem::remove(path));
  // Under Wine a file held open stays until it is closed.
  EXPECT_TRUE(std::filesystem::exists(path) || log.find_game_checksum().empty());
}

}  // namespace
