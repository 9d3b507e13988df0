// The two edits: switching the update settings off, and adding a catalogue
// entry. Each row gives the file before and the exact bytes after.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "config/user_configuration.h"
#include "config/version_catalogue.h"
#include "test_folder.h"

namespace {

using test_support::fresh_folder;
using test_support::read_file;
using test_support::write_file;

constexpr char kDeclaration[] = "<?xml version=\"1.0\"?>\n";

std::string in_configuration(const std::string& settings) {
  return "<UserConfiguration>" + settings + "</UserConfiguration>";
}

struct patch_case {
  const char* name;
  std::string before;
  std::string after;  // without the declaration line
};
void PrintTo(const patch_case& row, std::ostream* out) {
  *out << row.name;
}

const std::vector<patch_case> kPatches = {
    {"both switched off, others kept",
     in_configuration("<autoupdate>true</autoupdate><language>en</language>"
                      "<updateversions>true</updateversions>"),
     "<UserConfiguration>\n\t<autoupdate>false</autoupdate>\n\t<language>en</language>\n"
     "\t<updateversions>false</updateversions>\n</UserConfiguration>\n"},
    {"already false", in_configuration("<autoupdate>false</autoupdate>"),
     "<UserConfiguration>\n\t<autoupdate>false</autoupdate>\n</UserConfiguration>\n"},
    {"empty setting gets no text",
     in_configuration("<autoupdate></autoupdate><updateversions>\n</updateversions>"),
     "<UserConfiguration>\n\t<autoupdate />\n\t<updateversions />\n</UserConfiguration>\n"},
    {"comment after the text is dropped",
     in_configuration("<autoupdate>true<!-- c --></autoupdate>"),
     "<UserConfiguration>\n\t<autoupdate>false</autoupdate>\n</UserConfiguration>\n"},
    {"element as last child keeps the text", in_configuration("<autoupdate>true<x/></autoupdate>"),
     "<UserConfiguration>\n\t<autoupdate>true<x />\n\t</autoupdate>\n</UserConfiguration>\n"},
    {"cdata stays cdata", in_configuration("<autoupdate><![CDATA[yes]]></autoupdate>"),
     "<UserConfiguration>\n\t<autoupdate><![CDATA[false]]></autoupdate>\n</UserConfiguration>\n"},
    {"only the first of several",
     in_configuration("<autoupdate>1</autoupdate><autoupdate>2</autoupdate>"),
     "<UserConfiguration>\n\t<autoupdate>false</autoupdate>\n\t<autoupdate>2</autoupdate>\n"
     "</UserConfiguration>\n"},
    {"names match case", in_configuration("<AutoUpdate>true</AutoUpdate>"),
     "<UserConfiguration>\n\t<AutoUpdate>true</AutoUpdate>\n</UserConfiguration>\n"},
    {"other top-level element", "<Settings><autoupdate>true</autoupdate></Settings>",
     "<Settings>\n\t<autoupdate>true</autoupdate>\n</Settings>\n"},
    {"settings deeper down are not touched",
     in_configuration("<group><autoupdate>true</autoupdate></group>"),
     "<UserConfiguration>\n\t<group>\n\t\t<autoupdate>true</autoupdate>\n\t</group>\n"
     "</UserConfiguration>\n"},
};

class PatchTest : public testing::TestWithParam<patch_case> {};

TEST_P(PatchTest, FileAfterPatch) {
  const auto path = fresh_folder() / "UserConfiguration.xml";
  write_file(path, GetParam().before);
  EXPECT_EQ(updater::patch_user_configuration(path.string()), "");
  EXPECT_EQ(read_file(path), kDeclaration + GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Rows, PatchTest, testing::ValuesIn(kPatches), test_support::row_name());

TEST(PatchUserConfiguration, BrokenFileIsLeftAlone) {
  const auto path = fresh_folder() / "UserConfiguration.xml";
  const std::string broken = "<UserConfiguration><autoupdate>true</autoupdate>";
  write_file(path, broken);
  EXPECT_NE(updater::patch_user_configuration(path.string()).find("not well-formed XML"),
            std::string::npos);
  EXPECT_EQ(read_file(path), broken);
}

const std::string kTwoEntries =
    "<versions>\n\t<version id=\"0.46\">\n\t\t<checksum>aa11</checksum>\n\t</version>\n"
    "\t<version id=\"0.47\">\n\t\t<checksum>bb22</checksum>\n\t</version>\n";

struct entry_case {
  const char* name;
  std::optional<std::string> before;  // nullopt: no file
  std::string version;
  std::string checksum;
  std::string problem;               // what save says; empty when recorded
  std::optional<std::string> after;  // nullopt: no file; without the declaration line
};
void PrintTo(const entry_case& row, std::ostream* out) {
  *out << row.name;
}

const std::vector<entry_case> kEntries = {
    {"third entry after two", kTwoEntries + "</versions>", "0.48", "3f2a9c", "",
     kTwoEntries +
         "\t<version id=\"0.48\">\n\t\t<checksum>3f2a9c</checksum>\n\t</version>\n</versions>\n"},
    {"first entry in an empty list", "<versions/>", "0.49b", "c0ffee", "",
     "<versions>\n\t<version id=\"0.49b\">\n\t\t<checksum>c0ffee</checksum>\n\t</version>\n"
     "</versions>\n"},
    {"a known version is added again", "<versions><version id=\"0.48\"/></versions>", "0.48", "1",
     "",
     "<versions>\n\t<version id=\"0.48\" />\n\t<version id=\"0.48\">\n\t\t<checksum>1</checksum>\n"
     "\t</version>\n</versions>\n"},
    {"special characters are escaped", "<versions/>", "0.5\"&<", "a&b<c", "",
     "<versions>\n\t<version id=\"0.5&quot;&amp;&lt;\">\n\t\t<checksum>a&amp;b&lt;c</checksum>\n"
     "\t</version>\n</versions>\n"},
    {"no versions element", "<catalogue/>", "0.48", "1", "the file has no versions element",
     "<catalogue/>"},
    {"missing catalogue is not created", std::nullopt, "0.48", "1", "the file does not exist",
     std::nullopt},
    {"broken catalogue is left alone", "<versions><version></versions>", "0.48", "1",
     "the file is not well-formed XML (Start-end tags mismatch at offset 21)",
     "<versions><version></versions>"},
};

class EntryTest : public testing::TestWithParam<entry_case> {};

TEST_P(EntryTest, SavedCatalogue) {
  const entry_case& row = GetParam();
  const auto path = fresh_folder() / "Versions.xml";
  if (row.before) write_file(path, *row.before);

  updater::version_catalogue catalogue(path.string());
  catalogue.open_entry();
  catalogue.fill_entry(row.version, row.checksum);
  EXPECT_EQ(catalogue.save(), row.problem);

  ASSERT_EQ(std::filesystem::exists(path), row.after.has_value());
  if (row.after) {
    // A refused save leaves the very bytes that were there.
    EXPECT_EQ(read_file(path), row.problem.empty() ? kDeclaration + *row.after : *row.after);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, EntryTest, testing::ValuesIn(kEntries), test_support::row_name());

TEST(VersionCatalogue, WithoutSaveTheFileIsUntouched) {
  const auto path = fresh_folder() / "Versions.xml";
  const std::string before = "<?xml version='1.0'?>\r\n<versions>\r\n</versions>";
  write_file(path, before);
  updater::version_catalogue catalogue(path.string());
  catalogue.open_entry();
  catalogue.fill_entry("48", "3f2a9c");
  EXPECT_EQ(read_file(path), before);
}

}  // namespace
