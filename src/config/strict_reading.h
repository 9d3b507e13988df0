// The strict reading of a mod tool XML file: what a conforming XML 1.0
// parser makes of its bytes, before the document is loaded for an edit.
#pragma once

#include <cstddef>
#include <string>

#include "platform/file_access.h"

namespace updater {

// The deepest nesting of elements an edited file may have. No settings file
// or catalogue comes near it; the layout written back indents each level by
// a tab, so this bound keeps a rewrite under ten times the file's size.
inline constexpr int kDeepestNesting = 32;

struct strict_reading {
  enum class verdict {
    well_formed,      // XML 1.0, in an encoding the document reads
    no_element,       // well-formed but for holding no element at all
    not_well_formed,  // for `problem`
    refused,          // must be left alone, for `problem`
  };
  verdict result = verdict::well_formed;
  std::string problem;  // in plain words, for a refused or not well-formed file
  // The text that was read, in UTF-8, when the file is in UTF-16 or
  // ISO-8859-1: `utf8_size` bytes followed by a null. Null when the bytes
  // given are that text themselves (UTF-8 or US-ASCII), or are refused.
  read_buffer utf8;
  std::size_t utf8_size = 0;
};

// Reads `size` bytes as XML 1.0. A file in UTF-16 or ISO-8859-1 is read in
// UTF-8, converted once: half of a surrogate pair without the other half is
// not well-formed there, and names are judged as in UTF-8. The document must
// be loaded from that UTF-8 text, so that it is the text judged here.
//
// The file is refused when it is not well-formed (saying where), when its
// encoding is not UTF-8, UTF-16, ISO-8859-1 (also named "latin1") or
// US-ASCII, when a UTF-8 byte-order mark comes with a declared ISO-8859-1,
// when its document type has an external subset or refers to parameter
// entities, when it declares entities or refers to any but the five that XML
// defines, when it declares a default or a type other than CDATA for an
// attribute, when its text holds a carriage return (which only a reference
// can put there), when text beside white space is set apart from it only by
// comments, processing instructions or CDATA sections (the layout would drop
// that white space), when it is nested deeper than kDeepestNesting, or when
// memory runs out. A file that is not well-formed is told apart, and so is
// one whose only fault is that it holds no element, which is judged by what
// else it holds.
strict_reading read_strictly(const char* bytes, std::size_t size);

}  // namespace updater
