// What a run of the whole program cannot be made to show: a rewrite whose
// writer throws, memory running out at each allocation in turn while the
// catalogue is saved, and a log removed between its two opens.
#include "platform/file_access.h"

#include <new>
#include <thread>

#include "config/version_catalogue.h"
#include "log/game_checksum.h"
#include "support.h"

namespace {

using namespace test_support;

// The allocation numbered `failing` from 0, pugixml's or any other, fails.
long failing = -1;
void* allocate(std::size_t size) {
  return failing >= 0 && failing-- == 0 ? nullptr : std::malloc(size + 1);
}

std::ptrdiff_t count(const fs::path& folder) {
  return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}
// Where open files can be counted; elsewhere (Windows) a file left open shows
// when it cannot be replaced.
std::ptrdiff_t open_files() {
  return *OPEN_FILES ? count(OPEN_FILES) : 0;
}

TEST(ReplaceFile, AWriterThatThrowsLeavesTheOldFileAndNothingOpen) {
  const fs::path file = fresh_folder() / "f.xml";
  write_file(file, "old");
  const std::string piece(1 << 17, 'x');  // large enough to be written at once
  const updater::file_identity read_as = updater::read_file(file.u8string()).identity;
  const auto replace = [&] {
    updater::replace_file(file.u8string(), read_as, [&](const updater::byte_sink& sink) {
      sink(piece.data(), piece.size());
      throw std::bad_alloc();
    });
  };
  const std::ptrdiff_t open_before = open_files();
  EXPECT_THROW(replace(), std::bad_alloc);
  EXPECT_EQ(open_files(), open_before);
  // With no handler above, as in the program, the process ends without the file.
  EXPECT_DEATH(std::thread(replace).join(), "");
  EXPECT_EQ(count(file.parent_path()), 1);  // on Windows, also when the file is still open
  EXPECT_EQ(read_file(file), "old");
}

// The scan opens the log again: a log removed since the first open yields nothing.
TEST(ModToolLog, ALogRemovedBetweenItsTwoOpensGivesNoChecksum) {
  const auto path = fresh_folder() / "Zelbix.log";
  write_file(path, "Game checksum: 3f2a9c\n");
  updater::mod_tool_log log(path.u8string());
  ASSERT_TRUE(log.log_is_readable() && fs::remove(path));
  // Under Wine a file held open stays until it is closed.
  EXPECT_TRUE(fs::exists(path) || log.find_game_checksum().empty());
}

TEST(VersionCatalogue, MemoryRunningOutInTheSaveLeavesTheFileAndNothingOpenAndSaysSo) {
  pugi::set_memory_management_functions(allocate, std::free);
  const fs::path file = fresh_folder() / "Versions.xml";
  const std::string changed = "<versions><version id=\"0.47\" /></versions>";
  const std::ptrdiff_t open_before = open_files();
  for (long allocation = 0;; ++allocation) {
    write_file(file, "<versions />");
    updater::version_catalogue catalogue(file.u8string());
    catalogue.open_entry();
    catalogue.fill_entry("0.48", "3f2a9c");
    write_file(file, changed);  // by another program: the save loads the file anew
    failing = allocation;
    const std::string problem = catalogue.save();
    const bool failed = failing < 0;
    failing = -1;
    EXPECT_EQ(open_files(), open_before);
    if (!failed) {
      EXPECT_EQ(problem, "");
      EXPECT_NE(read_file(file).find("0.47\" />\n\t<version id=\"0.48\">"), std::string::npos);
      break;
    }
    EXPECT_EQ(problem, updater::kNotEnoughMemory) << allocation;
    EXPECT_EQ(read_file(file), changed);
    EXPECT_EQ(count(file.parent_path()), 1);
  }
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* memory = allocate(size)) return memory;
  throw std::bad_alloc();
}
// Through pugixml's function, which the compiler cannot match with operator new.
void operator delete(void* memory) noexcept {
  pugi::get_memory_deallocation_function()(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  pugi::get_memory_deallocation_function()(memory);
}
