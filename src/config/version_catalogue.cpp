#include "config/version_catalogue.h"

#include "config/config_document.h"

namespace updater {
namespace {

// The length of the character at `at` when the catalogue can hold it
// exactly, otherwise 0. XML 1.0 allows tab, line feed, carriage return and
// everything from the space up, but for surrogates and U+FFFE and U+FFFF; a
// carriage return in text is read back as a line feed, so it is not held.
std::size_t holdable_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return lead >= 0x20 || lead == '\t' || lead == '\n' ? 1 : 0;
  std::size_t length = 0;
  char32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
      code == 0xFFFF) {
    return 0;
  }
  return length;
}

bool catalogue_can_hold(std::string_view text) {
  for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
    if ((length = holdable_length(text, at)) == 0) return false;
  }
  return true;
}

}  // namespace

std::string printable(std::string_view text) {
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = holdable_length(text, at);
    if (length == 0) {
      shown += '?';
      ++at;
    } else {
      shown.append(text.substr(at, length));
      at += length;
    }
  }
  return shown;
}

void version_catalogue::open_entry() {
  loaded_ = load_document(document_, path_);
  if (loaded_.result == load_result::outcome::refused) {
    problem_ = loaded_.problem;
    return;
  }
  if (loaded_.result == load_result::outcome::missing) {
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
  if (!entry_) return;
  if (!catalogue_can_hold(version)) {
    problem_ = "the version contains characters the catalogue cannot hold";
  } else if (!catalogue_can_hold(checksum)) {
    problem_ = "the checksum contains characters the catalogue cannot hold";
  }
  entry_.append_attribute("id").set_value(version.c_str());
  checksum_element_.append_child(pugi::node_pcdata).set_value(checksum.c_str());
}

std::string version_catalogue::save() {
  if (!problem_.empty()) return problem_;
  return save_document(document_, path_);
}

}  // namespace updater
