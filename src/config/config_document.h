// A mod tool XML file: loaded whole into a pugixml document and written back
// whole, always with pugixml's default options.
#pragma once

#include <pugixml.hpp>
#include <string>

#include "platform/file_access.h"

namespace updater {

struct load_result {
  enum class outcome { loaded, missing, refused };
  outcome result = outcome::missing;
  std::string problem;     // why the file must be left alone, when refused
  read_buffer text;        // what the document was parsed in: keep it while the document lives
  file_identity identity;  // of the file as read, for save_document

  bool may_write_back() const { return result != outcome::refused; }
};

// Loads the file into `document`, which is emptied first, from the very
// text the strict reading judged (in UTF-8, whatever the file's encoding),
// so that the document edited is the one judged. `loaded` covers a
// file without any element that holds only what a load drops anyway (white
// space, the declaration, comments, processing instructions, a document type
// declaration) or nothing at all; the document is then empty. `missing`
// leaves the document empty. `refused` means the file exists but cannot be
// read, is not a regular file, is not well-formed, or holds something other
// than XML: the caller must not write it back, since the document would lose
// the file's content.
load_result load_document(pugi::xml_document& document, const std::string& path);

// Writes the document back, all-or-nothing, byte for byte as pugixml's
// save_file does with its defaults: declaration, tab indentation, UTF-8
// without byte-order mark, line feeds. Returns an empty string on success,
// otherwise why the file was left as it was: kChangedMeanwhile when the file
// is no longer the one loaded as `loaded` (the caller may load it again and
// make its edit anew, up to kEditTries times in all).
std::string save_document(const pugi::xml_document& document, const std::string& path,
                          const load_result& loaded);
inline constexpr int kEditTries = 4;

}  // namespace updater
