// Whatever bytes the two XML files hold, each is either left byte for byte
// as it was, with a reason given, or rewritten into a document that XML
// reads as expat read the file, but for the edit (both settings switched
// off, or exactly one new entry at the end of `versions`) and what the
// layout leaves out by design: comments, processing instructions, the
// document type, and text between two tags that is only white space. What
// the strict reading takes is rewritten; a rewrite passes the strict reading
// in turn, and is never more than ten times the size of what was read.
#include <expat.h>
#include <strings.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "config/strict_reading.h"
#include "config/user_configuration.h"
#include "config/version_catalogue.h"
#include "platform/file_access.h"

namespace {

const std::string kPath = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                          "/version-updater-fuzz-" + std::to_string(getpid()) + ".xml";

void expect(bool holds) {
  if (!holds) std::abort();
}

// What XML reads in a document, one record after another, each ended by
// \x01 (which XML 1.0 never holds): "<name" and "@name=value" for an element
// and each of its attributes in order, "T" and the text before each tag
// within an element (all its text and CDATA sections, empty when only white
// space), ">" at the element's end. In the settings, the text that ends the
// first autoupdate and updateversions reads "false" where the edit switched
// it off: always before the edit, but when only white space, which the edit
// may leave or switch off alike (the setting then goes into `blank`).
struct reading {
  enum { catalogue, settings_before, settings_after } mode;
  std::string& blank;
  std::string records, text, root, seen, setting;
  int depth = 0;
};

void end_text(reading& r, const std::string& setting) {
  const bool blank = r.text.find_first_not_of(" \t\n\r") == std::string::npos;
  std::string text = blank ? "" : r.text;
  if (!setting.empty() && r.mode == reading::settings_before) {
    blank ? void(r.blank += setting) : void(text = "false");
  } else if (!setting.empty() && text == "false" && r.blank.find(setting) != std::string::npos) {
    text = "";
  }
  r.records += "T" + text + "\x01";
  r.text.clear();
}

extern "C" {
void XMLCALL start(void* data, const XML_Char* name, const XML_Char** attributes) {
  reading& r = *static_cast<reading*>(data);
  end_text(r, "");
  if (++r.depth == 1) r.root = name;
  const std::string setting = std::string("|") + name + "|";
  if (r.mode != reading::catalogue && r.depth == 2 && r.root == "UserConfiguration" &&
      std::string("|autoupdate|updateversions|").find(setting) != std::string::npos &&
      r.seen.find(setting) == std::string::npos) {
    r.seen += r.setting = setting;
  }
  r.records += std::string("<") + name + "\x01";
  for (; *attributes; attributes += 2) {
    r.records += std::string("@") + attributes[0] + "=" + attributes[1] + "\x01";
  }
}
void XMLCALL end(void* data, const XML_Char*) {
  reading& r = *static_cast<reading*>(data);
  end_text(r, r.depth == 2 ? r.setting : "");
  if (r.depth-- == 2) r.setting.clear();
  r.records += ">\x01";
}
void XMLCALL text(void* data, const XML_Char* text, int length) {
  static_cast<reading*>(data)->text.append(text, std::size_t(length));
}
int XMLCALL latin1(void*, const XML_Char* name, XML_Encoding* encoding) {
  for (int byte = 0; byte < 256; ++byte) encoding->map[byte] = byte;
  return strcasecmp(name, "latin1") == 0 ? XML_STATUS_OK : XML_STATUS_ERROR;
}
}

// Expat's reading of `bytes`, as it reads a file itself; empty without an
// element; none when expat refuses the bytes.
std::optional<std::string> read(const std::string& bytes, decltype(reading::mode) mode,
                                std::string& blank) {
  reading r{mode, blank, "", "", "", "", ""};
  const XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &r);
  XML_SetElementHandler(parser, start, end);
  XML_SetCharacterDataHandler(parser, text);
  XML_SetUnknownEncodingHandler(parser, latin1, nullptr);
  const bool read = XML_Parse(parser, bytes.data(), int(bytes.size()), XML_TRUE) == XML_STATUS_OK ||
                    XML_GetErrorCode(parser) == XML_ERROR_NO_ELEMENTS;
  XML_ParserFree(parser);
  return read ? std::optional<std::string>(r.records) : std::nullopt;
}

// Puts `before` in the file and runs `edit` on it; true when it was
// rewritten, into `after`.
template <class Edit>
bool rewritten(const std::string& before, Edit edit, std::string& after) {
  std::ofstream(kPath, std::ios::binary | std::ios::trunc) << before;
  const bool refused = !edit(kPath).empty();
  const updater::file_contents file = updater::read_file(kPath);
  after.assign(file.bytes.get(), file.size);
  expect(refused ? after == before : after.size() <= 10 * before.size() + 100);
  using verdict = updater::strict_reading::verdict;
  const verdict strict = updater::read_strictly(after.data(), after.size()).result;
  expect(refused || strict == verdict::well_formed || strict == verdict::no_element);
  return !refused;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string after;
  const bool strict = updater::read_strictly(bytes.data(), bytes.size()).result ==
                      updater::strict_reading::verdict::well_formed;
  const bool patched = rewritten(bytes, updater::patch_user_configuration, after);
  expect(patched || !strict);
  std::string blank;
  const std::optional<std::string> settings = read(bytes, reading::settings_before, blank);
  expect(!patched || (settings && settings == read(after, reading::settings_after, blank)));

  const auto record = [](const std::string& path) {
    updater::version_catalogue catalogue(path);
    catalogue.open_entry();
    catalogue.fill_entry("0.48", "3f2a9c");
    return catalogue.save();
  };
  if (rewritten(bytes, record, after)) {
    std::optional<std::string> catalogue = read(bytes, reading::catalogue, blank);
    expect(catalogue && catalogue->size() >= 2);
    catalogue->replace(
        catalogue->size() - 2, 2,
        "<version\x01@id=0.48\x01T\x01<checksum\x01T3f2a9c\x01>\x01T\x01>\x01T\x01>\x01");
    expect(catalogue == read(after, reading::catalogue, blank));
  }
  return 0;
}
