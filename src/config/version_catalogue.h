// The mod tool's version catalogue for the game: version numbers paired with
// game checksums.
#pragma once

#include <pugixml.hpp>
#include <string>

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
  // Does nothing when no entry was made.
  void fill_entry(const std::string& version, const std::string& checksum);
  // Writes the catalogue back with the new entry. Returns an empty string
  // when the entry is on disk; otherwise why not, and the file is left
  // exactly as it was (a missing file is not created).
  std::string save();

 private:
  std::string path_;
  pugi::xml_document document_;
  pugi::xml_node entry_;
  pugi::xml_node checksum_element_;
  std::string problem_;  // why no entry could be made
};

}  // namespace updater
