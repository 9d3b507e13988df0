// What a run of the whole program cannot be made to show: a rewrite whose
// writer throws, as when memory runs out while a document is written out.
#include "platform/file_access.h"

#include <new>
#include <thread>

#include "support.h"

namespace {

using namespace test_support;

std::ptrdiff_t count(const fs::path& folder) {
  return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
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
#ifdef OPEN_FILES  // where a removed file still open is gone from its folder
  const std::ptrdiff_t open_before = count(OPEN_FILES);
#endif
  EXPECT_THROW(replace(), std::bad_alloc);
  EXPECT_EQ(count(file.parent_path()), 1);  // on Windows, also when the file is still open
#ifdef OPEN_FILES
  EXPECT_EQ(count(OPEN_FILES), open_before);
#endif
  // With no handler above, as in the program, the process ends without the file.
  EXPECT_DEATH(std::thread(replace).join(), "");
  EXPECT_EQ(count(file.parent_path()), 1);
  EXPECT_EQ(read_file(file), "old");
}

}  // namespace
