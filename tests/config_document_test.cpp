// Loading and writing back a mod tool XML file: the bytes that come back,
// and the files that must be left alone.
#include "config/config_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_folder.h"

namespace {

using test_support::fresh_folder;
using test_support::read_file;
using test_support::write_file;
using updater::load_document;
using updater::load_result;

constexpr char kDeclaration[] = "<?xml version=\"1.0\"?>\n";

struct round_trip_case {
  const char* name;
  std::string before;
  std::string after;  // the document written back, without the declaration line
};
void PrintTo(const round_trip_case& row, std::ostream* out) {
  *out << row.name;
}

const std::vector<round_trip_case> kRoundTrips = {
    {"bom and crlf go", "\xEF\xBB\xBF<a>\r\n  <b>x</b>\r\n</a>\r\n", "<a>\n\t<b>x</b>\n</a>\n"},
    {"spaces become tabs", "<a>\n    <b>\n        <c>1</c>\n    </b>\n</a>",
     "<a>\n\t<b>\n\t\t<c>1</c>\n\t</b>\n</a>\n"},
    {"comments, declaration and doctype go",
     "<?xml version=\"1.0\" encoding=\"utf-8\"?><!DOCTYPE a><!-- x --><a><!-- y --><b/></a>",
     "<a>\n\t<b />\n</a>\n"},
    {"predefined references survive", "<a q=\"&quot;\">&amp;&lt;&gt;</a>",
     "<a q=\"&quot;\">&amp;&lt;&gt;</a>\n"},
    {"other references are kept as text", "<a>&nbsp;</a>", "<a>&amp;nbsp;</a>\n"},
    {"cdata stays cdata", "<a><![CDATA[<x>]]></a>", "<a><![CDATA[<x>]]></a>\n"},
    {"utf-16 becomes utf-8", std::string("\xFF\xFE<\0a\0/\0>\0", 10), "<a />\n"},
    {"no element at all", "<!-- only a comment -->", ""},
    {"empty file", "", ""},
};

class RoundTripTest : public testing::TestWithParam<round_trip_case> {};

TEST_P(RoundTripTest, WrittenBackAsPugixmlDefaults) {
  const round_trip_case& row = GetParam();
  const auto path = fresh_folder() / "file.xml";
  write_file(path, row.before);

  pugi::xml_document document;
  const load_result loaded = load_document(document, path.string());
  ASSERT_EQ(loaded.result, load_result::outcome::loaded) << loaded.problem;
  ASSERT_EQ(updater::save_document(document, path.string()), "");
  EXPECT_EQ(read_file(path), kDeclaration + row.after);

  // The same bytes that pugixml's own save_file writes.
  const auto reference = path.parent_path() / "reference.xml";
  document.save_file(reference.string().c_str());
  EXPECT_EQ(read_file(path), read_file(reference));
}

INSTANTIATE_TEST_SUITE_P(Rows, RoundTripTest, testing::ValuesIn(kRoundTrips),
                         test_support::row_name());

}  // namespace
