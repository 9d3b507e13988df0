// The mod tool's version catalogue for the game: version numbers paired with
// game checksums.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "config/config_document.h"

namespace updater {

inline constexpr char kVersionCataloguePath[] = "configs/games/TheForest/Versions.xml";

// One new entry in the catalogue, built in three steps: open_entry before the
// user is asked for the version, fill_entry afterwards, and save only when
// the version is accepted. Without save the file is not touched.
class version_catalogue {
 public:
  explicit version_catalogue(std::string path = kVersionCataloguePath) : path_(std::move(path)) {}

  // Loads the catalogue and appends a new, empty `version` entry with a
  // `checksum` element at the end of the top-level `versions` element. When
  // the file is missing, cannot be read, is not well-formed or has no
  // `versions` element, no entry is made.
  void open_entry();
  // Gives the entry the `id` attribute `version` and the checksum text.
  // Does nothing when no entry was made. A version or checksum the catalogue
  // cannot hold exactly (characters XML or the layout does not keep, a
  // checksum of white space alone) makes save refuse.
  void fill_entry(const std::string& version, const std::string& checksum);
  // Writes the catalogue back with the new entry. Returns an empty string
  // when the entry is on disk, such that any XML parser reads back exactly
  // the version and the checksum given; otherwise why not, and the file is
  // left exactly as it was (a missing file is not created). A version or a
  // checksum that is not UTF-8, or that holds a character XML 1.0 does not
  // allow (a null or another control character below the space but tab and
  // line feed) or a carriage return (read back as a line feed), is not
  // recorded. When another program changed the catalogue since it was
  // loaded, the entry is made anew in what it holds now, a few times at most.
  std::string save();

 private:
  std::string path_;
  load_result loaded_;  // holds the text the document is parsed in
  pugi::xml_document document_;
  pugi::xml_node entry_;
  pugi::xml_node checksum_element_;
  std::string problem_;  // why no entry could be made
};

// `text` with each character that the catalogue cannot hold, and each byte
// that is not UTF-8, shown as "?", for a message on one line.
std::string printable(std::string_view text);

}  // namespace updater
