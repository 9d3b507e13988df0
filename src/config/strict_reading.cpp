#include "config/strict_reading.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/utf8.h"

namespace updater {
namespace {

using namespace std::string_view_literals;

// The encodings a file may be read in, as its first bytes tell them.
enum class form { utf8, utf16_le, utf16_be, utf32, latin1 };

form form_of(std::string_view bytes) {
  const auto starts = [bytes](std::string_view start) {
    return bytes.substr(0, start.size()) == start;
  };
  if (starts("\0\0\xFE\xFF"sv) || starts("\xFF\xFE\0\0"sv) || starts("\0\0\0<"sv) ||
      starts("<\0\0\0"sv)) {
    return form::utf32;
  }
  if (starts("\xFE\xFF"sv) || starts("\0<"sv)) return form::utf16_be;
  if (starts("\xFF\xFE"sv) || starts("<\0"sv)) return form::utf16_le;
  return form::utf8;
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool same_letters(const char* name, const char* expected) {
  for (; *name != '\0' && *expected != '\0'; ++name, ++expected) {
    if ((*name | 0x20) != (*expected | 0x20)) return false;
  }
  return *name == *expected;
}

bool names_latin1(const char* name) {
  return same_letters(name, "ISO-8859-1") || same_letters(name, "latin1");
}

// The encoding that the XML declaration at the start of `text` (after a
// UTF-8 byte-order mark) names, as a view into `text`; empty when it names
// none. Only the declaration's shape is looked at: expat judges the rest.
std::string_view declared_encoding(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  if (text.substr(0, 5) != "<?xml" || text.size() < 6 || !is_space(text[5])) return {};
  const std::size_t end = std::min(text.find("?>"), text.size());
  for (std::size_t at = text.find("encoding"); at < end; at = text.find("encoding", at + 1)) {
    std::size_t i = at + 8;
    while (i < end && is_space(text[i])) ++i;
    if (i >= end || text[i] != '=') continue;
    do ++i;
    while (i < end && is_space(text[i]));
    if (i >= end || (text[i] != '"' && text[i] != '\'')) continue;
    const std::size_t close = text.find(text[i], i + 1);
    return close < end ? text.substr(i + 1, close - i - 1) : std::string_view();
  }
  return {};
}

// The bytes, read as `from` (UTF-16 or ISO-8859-1), in UTF-8 followed by a
// null; null when memory runs out. A UTF-16 byte-order mark becomes UTF-8's,
// which expat counts as a column as it counted the first. Half of a surrogate
// pair without its other half, and a byte left over at the end, become 0xFF,
// a byte UTF-8 never holds, which the strict reading refuses where it stands.
read_buffer in_utf8(std::string_view bytes, form from, std::size_t& size) {
  read_buffer text =
      allocate_read_buffer(from == form::latin1 ? 2 * bytes.size() + 1 : bytes.size() / 2 * 3 + 2);
  if (!text) return text;
  char* out = text.get();
  if (from == form::latin1) {
    for (const char byte : bytes) out = put_utf8(out, static_cast<unsigned char>(byte));
  } else {
    const std::size_t high = from == form::utf16_be ? 0 : 1;
    const auto unit = [&](std::size_t at) {
      return char32_t(static_cast<unsigned char>(bytes[at + high]) << 8 |
                      static_cast<unsigned char>(bytes[at + 1 - high]));
    };
    const auto within = [](char32_t code, char32_t low) {
      return code >= low && code < low + 0x400;
    };
    std::size_t at = 0;
    for (; at + 1 < bytes.size(); at += 2) {
      char32_t code = unit(at);
      if (within(code, 0xD800) && at + 3 < bytes.size() && within(unit(at + 2), 0xDC00)) {
        code = 0x10000 + ((code - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
        at += 2;
      } else if (within(code, 0xD800) || within(code, 0xDC00)) {
        *out++ = '\xFF';
        continue;
      }
      out = put_utf8(out, code);
    }
    if (at < bytes.size()) *out++ = '\xFF';
  }
  size = std::size_t(out - text.get());
  *out = '\0';
  return text;
}

std::string not_well_formed_at(XML_Size line, XML_Size column, XML_Error error) {
  return "the file is not well-formed XML at line " + std::to_string(line) + ", column " +
         std::to_string(column) + ": " + XML_ErrorString(error);
}

struct reading_state {
  XML_Parser parser;
  strict_reading* reading;
  form read_as;
  std::string_view text;  // what expat reads
  int depth = 0;
  std::string unknown_encoding, declared_encoding;
  // The text between two tags, in runs of character data that comments,
  // processing instructions and CDATA sections set apart.
  bool in_cdata = false, in_run = false, run_blank = true, piece_text = false, blank_run = false;
};

void refuse(reading_state& state, std::string problem) {
  state.reading->result = strict_reading::verdict::refused;
  state.reading->problem = std::move(problem);
  XML_StopParser(state.parser, XML_FALSE);
}

// The file's UTF-16 declared as an encoding of single bytes: not
// well-formed, said at the encoding's name as expat says it.
void refuse_declared_width(reading_state& state) {
  const std::string_view name = declared_encoding(state.text);
  XML_Size line = 1, column = 1;
  for (const char* c = state.text.data(); c < (name.empty() ? c : name.data()); ++c) {
    if (*c == '\r' && c[1] == '\n') continue;
    if (*c == '\n' || *c == '\r') {
      ++line;
      column = 1;
    } else if ((*c & 0xC0) != 0x80) {
      ++column;
    }
  }
  state.reading->result = strict_reading::verdict::not_well_formed;
  state.reading->problem = not_well_formed_at(line, column, XML_ERROR_INCORRECT_ENCODING);
  XML_StopParser(state.parser, XML_FALSE);
}

// A run of character data made only of white space is not kept by the
// layout: beside other text between the same two tags it would be lost.
void end_run(reading_state& state) {
  state.blank_run |= state.in_run && state.run_blank;
  state.in_run = false;
  state.run_blank = true;
}

void end_piece(reading_state& state) {
  end_run(state);
  if (state.piece_text && state.blank_run) {
    refuse(state,
           "the file's text holds white space set apart by a comment, a processing instruction "
           "or a CDATA section, which the rewrite would lose");
  }
  state.piece_text = state.blank_run = false;
}

constexpr char kOutside[] = "the file's document type refers to definitions outside it";

extern "C" {

void XMLCALL note_declaration(void* data, const XML_Char* version, const XML_Char* encoding, int) {
  auto& state = *static_cast<reading_state*>(data);
  // The rewrite declares version 1.0, which would change what a file of
  // another version means.
  if (version != nullptr && std::string(version) != "1.0") {
    refuse(state, std::string("the file declares XML version ") + version + ", not 1.0");
    return;
  }
  if (encoding == nullptr) return;
  state.declared_encoding = encoding;
  if (state.read_as != form::utf16_le && state.read_as != form::utf16_be) return;
  // Read in UTF-8, the file's UTF-16 is checked against its declaration here.
  const bool big = state.read_as == form::utf16_be;
  if (same_letters(encoding, "UTF-16") || same_letters(encoding, big ? "UTF-16BE" : "UTF-16LE")) {
    return;
  }
  for (const char* known : {"UTF-8", "US-ASCII", "UTF-16LE", "UTF-16BE"}) {
    if (same_letters(encoding, known)) return refuse_declared_width(state);
  }
  if (names_latin1(encoding)) return refuse_declared_width(state);
  refuse(state,
         "the file's encoding (" + state.declared_encoding + ") is not one the updater reads");
}

// "latin1" is the one name beyond the parser's own that the document reads.
int XMLCALL take_latin1(void* data, const XML_Char* name, XML_Encoding* encoding) {
  if (!same_letters(name, "latin1")) {
    static_cast<reading_state*>(data)->unknown_encoding = name;
    return XML_STATUS_ERROR;
  }
  for (int byte = 0; byte < 256; ++byte) encoding->map[byte] = byte;
  encoding->data = nullptr;
  encoding->convert = nullptr;
  encoding->release = nullptr;
  return XML_STATUS_OK;
}

// Definitions outside the file could give attributes defaults or define
// entities that the document would not know.
void XMLCALL refuse_external_subset(void* data, const XML_Char*, const XML_Char* system_id,
                                    const XML_Char*, int) {
  if (system_id != nullptr) refuse(*static_cast<reading_state*>(data), kOutside);
}

void XMLCALL refuse_declared_entity(void* data, const XML_Char*, int, const XML_Char*, int,
                                    const XML_Char*, const XML_Char*, const XML_Char*,
                                    const XML_Char*) {
  refuse(*static_cast<reading_state*>(data), "the file declares entities");
}

void XMLCALL refuse_undefined_entity(void* data, const XML_Char* name, int parameter) {
  refuse(*static_cast<reading_state*>(data), parameter
                                                 ? std::string(kOutside)
                                                 : std::string("the file refers to the entity &") +
                                                       name + ";, which is not defined in it");
}

// A default value, or a type other than CDATA (which has the value's spaces
// collapsed), changes what XML reads in an attribute: the rewrite would lose
// the declaration and, with it, that reading.
void XMLCALL refuse_attribute_reading(void* data, const XML_Char*, const XML_Char*,
                                      const XML_Char* type, const XML_Char* default_value, int) {
  if (default_value != nullptr || std::strcmp(type, "CDATA") != 0) {
    refuse(*static_cast<reading_state*>(data), "the file declares attribute defaults or types");
  }
}

void XMLCALL take_text(void* data, const XML_Char* text, int length) {
  auto& state = *static_cast<reading_state*>(data);
  // A carriage return reaches text only from a reference (&#13;): the layout
  // writes it as it is, and XML reads a line feed there.
  if (std::memchr(text, '\r', std::size_t(length)) != nullptr) {
    refuse(state, "the file's text holds a carriage return (&#13;)");
    return;
  }
  state.in_run |= !state.in_cdata;
  if (state.in_cdata ? state.piece_text : !state.run_blank) return;  // known not blank
  if (std::all_of(text, text + length, is_space)) return;
  state.piece_text = true;
  if (!state.in_cdata) state.run_blank = false;
}

void XMLCALL end_run_at_markup(void* data, const XML_Char*) {
  end_run(*static_cast<reading_state*>(data));
}

void XMLCALL end_run_at_instruction(void* data, const XML_Char*, const XML_Char*) {
  end_run(*static_cast<reading_state*>(data));
}

void XMLCALL enter_cdata(void* data) {
  auto& state = *static_cast<reading_state*>(data);
  end_run(state);
  state.in_cdata = true;
}

void XMLCALL leave_cdata(void* data) {
  static_cast<reading_state*>(data)->in_cdata = false;
}

void XMLCALL enter_element(void* data, const XML_Char*, const XML_Char**) {
  auto& state = *static_cast<reading_state*>(data);
  end_piece(state);
  if (++state.depth > kDeepestNesting) {
    refuse(state,
           "the file is nested more than " + std::to_string(kDeepestNesting) + " elements deep");
  }
}

void XMLCALL leave_element(void* data, const XML_Char*) {
  auto& state = *static_cast<reading_state*>(data);
  end_piece(state);
  --state.depth;
}

}  // extern "C"

}  // namespace

strict_reading read_strictly(const char* bytes, std::size_t size) {
  strict_reading reading;
  const std::string_view file(bytes, size);
  form read_as = form_of(file);
  if (read_as == form::utf32) {
    reading.result = strict_reading::verdict::refused;
    reading.problem = "the file's encoding (UTF-32) is not one the updater reads";
    return reading;
  }
  // UTF-16 without a byte-order mark that does not start with "<" is no XML,
  // though expat would guess it from a null byte among the first two.
  if (read_as == form::utf8 && size >= 2 && (file[0] == '\0' || file[1] == '\0')) {
    reading.result = strict_reading::verdict::refused;
    reading.problem = "the file is not XML";
    return reading;
  }
  // A byte-order mark outweighs a declared ISO-8859-1 for the document, not for XML.
  if (read_as == form::utf8 && file.substr(0, 3) != "\xEF\xBB\xBF" &&
      names_latin1(std::string(declared_encoding(file)).c_str())) {
    read_as = form::latin1;
  }
  if (read_as != form::utf8) {
    reading.utf8 = in_utf8(file, read_as, reading.utf8_size);
    if (!reading.utf8) {
      reading.result = strict_reading::verdict::refused;
      reading.problem = kNotEnoughMemory;
      return reading;
    }
  }
  const std::string_view text =
      reading.utf8 ? std::string_view(reading.utf8.get(), reading.utf8_size) : file;

  // Text converted is read as UTF-8 whatever its declaration names.
  const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
      XML_ParserCreate(reading.utf8 ? "UTF-8" : nullptr), &XML_ParserFree);
  if (!parser || !XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_ALWAYS)) {
    reading.result = strict_reading::verdict::refused;
    reading.problem = kNotEnoughMemory;
    return reading;
  }
  reading_state state{parser.get(), &reading, read_as, text, 0, std::string(), std::string()};
  XML_SetUserData(parser.get(), &state);
  XML_SetXmlDeclHandler(parser.get(), note_declaration);
  XML_SetUnknownEncodingHandler(parser.get(), take_latin1, &state);
  XML_SetStartDoctypeDeclHandler(parser.get(), refuse_external_subset);
  XML_SetEntityDeclHandler(parser.get(), refuse_declared_entity);
  XML_SetSkippedEntityHandler(parser.get(), refuse_undefined_entity);
  XML_SetAttlistDeclHandler(parser.get(), refuse_attribute_reading);
  XML_SetElementHandler(parser.get(), enter_element, leave_element);
  XML_SetCharacterDataHandler(parser.get(), take_text);
  XML_SetCommentHandler(parser.get(), end_run_at_markup);
  XML_SetProcessingInstructionHandler(parser.get(), end_run_at_instruction);
  XML_SetCdataSectionHandler(parser.get(), enter_cdata, leave_cdata);

  // In pieces, since the parser counts bytes in an int.
  constexpr std::size_t kPiece = std::size_t(1) << 24;
  XML_Status status = XML_STATUS_OK;
  std::size_t at = 0;
  do {
    const std::size_t piece = std::min(kPiece, text.size() - at);
    status = XML_Parse(parser.get(), text.data() + at, int(piece), at + piece == text.size());
    at += piece;
  } while (status == XML_STATUS_OK && at < text.size());
  if (reading.result != strict_reading::verdict::well_formed) return reading;
  if (status == XML_STATUS_OK) {
    if (names_latin1(state.declared_encoding.c_str()) != (read_as == form::latin1) &&
        read_as != form::utf16_le && read_as != form::utf16_be) {
      reading.result = strict_reading::verdict::refused;
      reading.problem = "the file's byte-order mark and its declared encoding (" +
                        state.declared_encoding + ") disagree";
    }
    return reading;
  }

  const XML_Error error = XML_GetErrorCode(parser.get());
  if (error == XML_ERROR_NO_MEMORY) {
    reading.result = strict_reading::verdict::refused;
    reading.problem = kNotEnoughMemory;
  } else if (error == XML_ERROR_UNKNOWN_ENCODING) {
    reading.result = strict_reading::verdict::refused;
    reading.problem =
        "the file's encoding (" + state.unknown_encoding + ") is not one the updater reads";
  } else {
    reading.result = error == XML_ERROR_NO_ELEMENTS ? strict_reading::verdict::no_element
                                                    : strict_reading::verdict::not_well_formed;
    reading.problem = not_well_formed_at(XML_GetCurrentLineNumber(parser.get()),
                                         XML_GetCurrentColumnNumber(parser.get()) + 1, error);
  }
  return reading;
}

}  // namespace updater
