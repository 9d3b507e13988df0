#include "config/version_catalogue.h"

#include "config/config_document.h"

namespace updater {

void version_catalogue::open_entry() {
  const load_result loaded = load_document(document_, path_);
  if (loaded.result == load_result::outcome::refused) {
    problem_ = loaded.problem;
    return;
  }
  if (loaded.result == load_result::outcome::missing) {
    problem_ = "the file does not exist";
    return;
  }
  pugi::xml_node versions = document_.child("versions");
  if (!versions) {
    problem_ = "the file has no versions element";
    return;
  }
  entry_ = versions.append_child(pugi::node_element);
  entry_.set_name("version");
  checksum_element_ = entry_.append_child(pugi::node_element);
  checksum_element_.set_name("checksum");
}

void version_catalogue::fill_entry(const std::string& version, const std::string& checksum) {
  entry_.append_attribute("id").set_value(version.c_str());
  checksum_element_.append_child(pugi::node_pcdata).set_value(checksum.c_str());
}

std::string version_catalogue::save() {
  if (!entry_) return problem_;
  return save_document(document_, path_);
}

}  // namespace updater
