// Rewriting a file all-or-nothing: what stays the same around the new bytes.
#include "config/file_access.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "test_folder.h"

namespace {

namespace fs = std::filesystem;
using test_support::fresh_folder;
using test_support::read_file;
using test_support::write_file;

// Replaces the file at `path` with `text`; gives the reason when refused.
std::string replace_file(const fs::path& path, const std::string& text) {
  return updater::replace_file(
      path.string(), [&text](const updater::byte_sink& sink) { sink(text.data(), text.size()); });
}

std::size_t entries_in(const fs::path& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
  return count;
}

TEST(ReplaceFile, KeepsPermissions) {
  const auto path = fresh_folder() / "a.xml";
  write_file(path, "old");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const fs::perms before = fs::status(path).permissions();
  EXPECT_EQ(replace_file(path, "new"), "");
  EXPECT_EQ(fs::status(path).permissions(), before);
}

// A file without any write permission is read-only for every user.
TEST(ReplaceFile, ReadOnlyFileIsRefused) {
  const auto path = fresh_folder() / "a.xml";
  write_file(path, "old");
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(replace_file(path, "new"), "the file is read-only");
  EXPECT_EQ(read_file(path), "old");
  EXPECT_EQ(entries_in(path.parent_path()), 1u);
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
}

TEST(ReplaceFile, WritesThroughSymbolicLink) {
  const auto folder = fresh_folder();
  write_file(folder / "real.xml", "old");
  std::error_code error;
  fs::create_symlink("real.xml", folder / "link.xml", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  EXPECT_EQ(replace_file(folder / "link.xml", "new"), "");
  EXPECT_TRUE(fs::is_symlink(folder / "link.xml"));
  EXPECT_EQ(read_file(folder / "real.xml"), "new");
  EXPECT_EQ(entries_in(folder), 2u);
}

}  // namespace
