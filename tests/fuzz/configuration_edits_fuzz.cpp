// Whatever bytes the two XML files hold, each is either rewritten into a
// document that loads back cleanly with the edit made, or left byte for byte
// as it was with a reason given.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <pugixml.hpp>
#include <string>

#include "config/user_configuration.h"
#include "config/version_catalogue.h"
#include "file_bytes.h"

namespace {

namespace fs = std::filesystem;

const fs::path& scratch() {
  static const fs::path folder = [] {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path made = base / ("version-updater-fuzz-" + std::to_string(getpid()));
    fs::create_directories(made);
    return made;
  }();
  return folder;
}

void check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

// Loads `bytes` as the program does; false when it is not well-formed.
bool loads_cleanly(pugi::xml_document& document, const std::string& bytes) {
  const pugi::xml_parse_result parsed = document.load_buffer(bytes.data(), bytes.size());
  return parsed || parsed.status == pugi::status_no_document_element;
}

// Elements only: two texts that a dropped comment kept apart are one text
// once written back, which is no change to the catalogue's entries.
std::size_t elements(pugi::xml_node node) {
  std::size_t count = 0;
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    count += child.type() == pugi::node_element;
  }
  return count;
}

// Puts `before` in the file at `name`, runs `edit` on that path, and holds
// it to the rule: a refused file keeps its bytes; a written one loads back,
// and was well-formed to begin with. Gives the written document, or nothing.
bool edited(const char* name, const std::string& before,
            const std::function<std::string(const std::string&)>& edit,
            pugi::xml_document& original, pugi::xml_document& written) {
  const fs::path path = scratch() / name;
  test_support::write_file(path, before);
  const std::string problem = edit(path.string());
  const std::string after = test_support::read_file(path);
  if (!problem.empty()) {
    check(after == before, "refused file changed");
    return false;
  }
  check(loads_cleanly(original, before), "file written although not well-formed");
  check(loads_cleanly(written, after), "written file does not load");
  return true;
}

void check_settings(const std::string& before) {
  pugi::xml_document original, written;
  if (!edited("UserConfiguration.xml", before, updater::patch_user_configuration, original,
              written)) {
    return;
  }
  for (const char* setting : {"autoupdate", "updateversions"}) {
    const pugi::xml_node value = written.child("UserConfiguration").child(setting).last_child();
    if (value.type() == pugi::node_pcdata || value.type() == pugi::node_cdata) {
      check(std::string(value.value()) == "false", "setting not switched off");
    }
  }
}

std::string record_version(const std::string& path) {
  updater::version_catalogue catalogue(path);
  catalogue.open_entry();
  catalogue.fill_entry("0.48", "3f2a9c");
  return catalogue.save();
}

void check_catalogue(const std::string& before) {
  pugi::xml_document original, written;
  if (!edited("Versions.xml", before, record_version, original, written)) return;
  const pugi::xml_node versions = written.child("versions");
  check(elements(versions) == elements(original.child("versions")) + 1,
        "not exactly one new entry");
  const pugi::xml_node entry = versions.last_child();
  check(std::string(entry.name()) == "version" &&
            std::string(entry.attribute("id").value()) == "0.48" && elements(entry) == 1 &&
            !entry.first_child().next_sibling() &&
            std::string(entry.child("checksum").text().get()) == "3f2a9c",
        "new entry is not the last child of versions");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  check_settings(bytes);
  check_catalogue(bytes);
  return 0;
}
