// A fresh, empty folder for the running test, named after it so that tests
// run in parallel never share files. The rows run against the Windows program
// have the same names as the Linux ones and get folders of their own.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "file_bytes.h"

namespace test_support {

inline std::filesystem::path fresh_folder() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::getenv("VERSION_UPDATER_WINDOWS_PROGRAM") ? "windows." : "";
  name += std::string(test->test_suite_name()) + "." + test->name();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.') c = '_';
  }
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "version-updater-tests" / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

// Names a table row's test after the row's `name`.
struct row_name {
  template <class Row>
  std::string operator()(const testing::TestParamInfo<Row>& info) const {
    std::string name = info.param.name;
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
  }
};

}  // namespace test_support
