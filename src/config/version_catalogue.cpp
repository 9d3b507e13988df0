#include "config/version_catalogue.h"

#include <new>

#include "config/config_document.h"
#include "platform/edit_turn.h"
#include "platform/utf8.h"

namespace updater {
namespace {

// Whether the catalogue can hold the character exactly. XML 1.0 allows tab,
// line feed, carriage return and everything from the space up, but for
// surrogates (never decoded) and U+FFFE and U+FFFF; a carriage return in
// text is read back as a line feed, so it is not held. The control
// characters XML allows (DEL and U+0080 to U+009F) are not held either: they
// are no part of a version or a checksum.
bool holdable(char32_t code) {
  return code >= 0x20 ? code != 0xFFFE && code != 0xFFFF && (code < 0x7F || code > 0x9F)
                      : code == '\t' || code == '\n';
}

bool catalogue_can_hold(std::string_view text) {
  for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
    char32_t code = 0;
    if ((length = utf8_character(text, at, code)) == 0 || !holdable(code)) return false;
  }
  return true;
}

}  // namespace

std::string printable(std::string_view text) {
  return with_question_marks(text, holdable);
}

void version_catalogue::open_entry() try {
  entry_ = checksum_element_ = pugi::xml_node();
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
  checksum_element_ = entry_.append_child(pugi::node_element);
  if (!entry_.set_name("version") || !checksum_element_.set_name("checksum")) {
    problem_ = kNotEnoughMemory;
  }
} catch (const std::bad_alloc&) {
  entry_ = checksum_element_ = pugi::xml_node();
  problem_ = kNotEnoughMemory;
}

void version_catalogue::fill_entry(const std::string& version, const std::string& checksum) {
  if (!entry_) return;
  if (!catalogue_can_hold(version)) {
    problem_ = "the version contains characters the catalogue cannot hold";
  } else if (!catalogue_can_hold(checksum) ||
             // Text of white space alone is not kept when the catalogue is rewritten.
             checksum.find_first_not_of("\t\n") == std::string::npos) {
    problem_ = "the checksum contains characters the catalogue cannot hold";
  }
  if (!entry_.append_attribute("id").set_value(version.c_str()) ||
      !checksum_element_.append_child(pugi::node_pcdata).set_value(checksum.c_str())) {
    if (problem_.empty()) problem_ = kNotEnoughMemory;
  }
}

std::string version_catalogue::save() try {
  if (!problem_.empty()) return problem_;
  // Another copy that records meanwhile does so before or after this one,
  // never between its look at the file and its replace.
  const edit_turn turn(path_);
  if (!turn.problem().empty()) return turn.problem();
  for (int tries = 1;; ++tries) {
    if (!problem_.empty()) return problem_;
    const std::string problem = save_document(document_, path_, loaded_);
    if (problem != kChangedMeanwhile || tries == kEditTries) return problem;
    // Another program changed the catalogue while the version was typed:
    // the entry goes into what it holds now.
    const std::string version = entry_.attribute("id").value();
    const std::string checksum = checksum_element_.text().get();
    open_entry();
    fill_entry(version, checksum);
  }
} catch (const std::bad_alloc&) {
  return kNotEnoughMemory;
}

}  // namespace updater
