#include "config/strict_reading.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/file_access.h"

namespace updater {
namespace {

struct reading_state {
  XML_Parser parser;
  strict_reading* reading;
  int depth = 0;
  std::string unknown_encoding;
};

void refuse(reading_state& state, std::string problem) {
  state.reading->result = strict_reading::verdict::refused;
  state.reading->problem = std::move(problem);
  XML_StopParser(state.parser, XML_FALSE);
}

bool same_letters(const char* name, const char* expected) {
  for (; *name != '\0' && *expected != '\0'; ++name, ++expected) {
    if ((*name | 0x20) != (*expected | 0x20)) return false;
  }
  return *name == *expected;
}

extern "C" {

void XMLCALL note_declaration(void* data, const XML_Char* version, const XML_Char* encoding, int) {
  // The rewrite declares version 1.0, which would change what a file of
  // another version means.
  if (version != nullptr && std::string(version) != "1.0") {
    refuse(*static_cast<reading_state*>(data),
           std::string("the file declares XML version ") + version + ", not 1.0");
    return;
  }
  if (encoding == nullptr) return;
  strict_reading& reading = *static_cast<reading_state*>(data)->reading;
  reading.declared_encoding = encoding;
  reading.declares_latin1 =
      same_letters(encoding, "ISO-8859-1") || same_letters(encoding, "latin1");
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

void XMLCALL refuse_declared_entity(void* data, const XML_Char*, int, const XML_Char*, int,
                                    const XML_Char*, const XML_Char*, const XML_Char*,
                                    const XML_Char*) {
  refuse(*static_cast<reading_state*>(data), "the file declares entities");
}

void XMLCALL refuse_undefined_entity(void* data, const XML_Char* name, int parameter) {
  refuse(*static_cast<reading_state*>(data), std::string("the file refers to the entity ") +
                                                 (parameter ? "%" : "&") + name +
                                                 ";, which is not defined in it");
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

// A carriage return reaches text only from a reference (&#13;): the layout
// writes it as it is, and XML reads a line feed there.
void XMLCALL refuse_carriage_return(void* data, const XML_Char* text, int length) {
  if (std::memchr(text, '\r', std::size_t(length)) != nullptr) {
    refuse(*static_cast<reading_state*>(data), "the file's text holds a carriage return (&#13;)");
  }
}

void XMLCALL enter_element(void* data, const XML_Char*, const XML_Char**) {
  auto& state = *static_cast<reading_state*>(data);
  if (++state.depth > kDeepestNesting) {
    refuse(state,
           "the file is nested more than " + std::to_string(kDeepestNesting) + " elements deep");
  }
}

void XMLCALL leave_element(void* data, const XML_Char*) {
  --static_cast<reading_state*>(data)->depth;
}

}  // extern "C"

}  // namespace

strict_reading read_strictly(const char* bytes, std::size_t size) {
  strict_reading reading;
  const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
      XML_ParserCreate(nullptr), &XML_ParserFree);
  if (!parser) {
    reading.result = strict_reading::verdict::refused;
    reading.problem = kNotEnoughMemory;
    return reading;
  }
  reading_state state{parser.get(), &reading, 0, std::string()};
  XML_SetUserData(parser.get(), &state);
  XML_SetXmlDeclHandler(parser.get(), note_declaration);
  XML_SetUnknownEncodingHandler(parser.get(), take_latin1, &state);
  XML_SetEntityDeclHandler(parser.get(), refuse_declared_entity);
  XML_SetSkippedEntityHandler(parser.get(), refuse_undefined_entity);
  XML_SetAttlistDeclHandler(parser.get(), refuse_attribute_reading);
  XML_SetElementHandler(parser.get(), enter_element, leave_element);
  XML_SetCharacterDataHandler(parser.get(), refuse_carriage_return);

  // In pieces, since the parser counts bytes in an int.
  constexpr std::size_t kPiece = std::size_t(1) << 24;
  XML_Status status = XML_STATUS_OK;
  std::size_t at = 0;
  do {
    const std::size_t piece = std::min(kPiece, size - at);
    status = XML_Parse(parser.get(), bytes + at, int(piece), at + piece == size);
    at += piece;
  } while (status == XML_STATUS_OK && at < size);
  if (status == XML_STATUS_OK || reading.result == strict_reading::verdict::refused) {
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
    reading.problem = "the file is not well-formed XML at line " +
                      std::to_string(XML_GetCurrentLineNumber(parser.get())) + ", column " +
                      std::to_string(XML_GetCurrentColumnNumber(parser.get()) + 1) + ": " +
                      XML_ErrorString(error);
  }
  return reading;
}

}  // namespace updater
