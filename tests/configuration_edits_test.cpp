// Switching the update settings off: each row gives the file before and the
// exact bytes after.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/user_configuration.h"
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

}  // namespace
