// Whatever bytes the two XML files hold, each is either left byte for byte
// as it was, with a reason given, or rewritten from a document that loaded
// into one that loads back with the edit made: both settings switched off
// where they hold text, or exactly one new entry at the end of `versions`.
// What the strict reading takes loads; a rewrite passes the strict reading
// in turn, and is never more than ten times the size of what was read.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <pugixml.hpp>

#include "platform/file_access.h"
#include "config/strict_reading.h"
#include "config/user_configuration.h"
#include "config/version_catalogue.h"

namespace {

const std::string kPath = "/tmp/version-updater-fuzz-" + std::to_string(getpid()) + ".xml";

void expect(bool holds) {
  if (!holds) std::abort();
}

bool loads(pugi::xml_document& document, const std::string& bytes) {
  const pugi::xml_parse_result parsed = document.load_buffer(bytes.data(), bytes.size());
  return parsed || parsed.status == pugi::status_no_document_element;
}

// Puts `before` in the file and runs `edit` on it; true when it was rewritten.
template <class Edit>
bool rewritten(const std::string& before, Edit edit, pugi::xml_document& original,
               pugi::xml_document& after) {
  using updater::read_strictly, updater::strict_reading;
  const bool strict = read_strictly(before.data(), before.size()).result ==
                      strict_reading::verdict::well_formed;
  expect(!strict || loads(original, before));
  std::ofstream(kPath, std::ios::binary | std::ios::trunc) << before;
  const bool refused = !edit(kPath).empty();
  const updater::file_contents file = updater::read_file(kPath);
  const std::string bytes(file.bytes.get(), file.size);
  expect(refused ? bytes == before : loads(original, before) && loads(after, bytes));
  expect(refused || bytes.size() <= 10 * before.size() + 100);
  expect(refused || !after.document_element() ||
         read_strictly(bytes.data(), bytes.size()).result == strict_reading::verdict::well_formed);
  return !refused;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  pugi::xml_document original, after;
  if (rewritten(bytes, updater::patch_user_configuration, original, after)) {
    for (const char* setting : {"autoupdate", "updateversions"}) {
      const pugi::xml_node value = after.child("UserConfiguration").child(setting).last_child();
      const bool text = value.type() == pugi::node_pcdata || value.type() == pugi::node_cdata;
      expect(!text || std::string(value.value()) == "false");
    }
  }
  const auto record = [](const std::string& path) {
    updater::version_catalogue catalogue(path);
    catalogue.open_entry();
    catalogue.fill_entry("0.48", "3f2a9c");
    return catalogue.save();
  };
  if (rewritten(bytes, record, original, after)) {
    const pugi::xml_node versions = after.child("versions"), entry = versions.last_child();
    const auto elements = [](pugi::xml_node node) { return node.select_nodes("*").size(); };
    expect(elements(versions) == elements(original.child("versions")) + 1 &&
           std::string(entry.name()) == "version" && elements(entry) == 1 &&
           std::string(entry.attribute("id").value()) == "0.48" &&
           !entry.first_child().next_sibling() &&
           std::string(entry.child("checksum").text().get()) == "3f2a9c");
  }
  return 0;
}
