#include "config/config_document.h"

#include <cstring>

#include "config/strict_reading.h"

namespace updater {
namespace {

// True when the file, read again (the first read was parsed in place), holds
// nothing that a load keeps: only white space, the declaration, comments,
// processing instructions, a document type declaration, or nothing at all.
// Text of any other kind (JSON, plain text, or UTF-16 without a byte-order
// mark, which reads as bytes with nulls) is content that writing back an
// empty document would lose.
bool holds_only_markup(const std::string& path) {
  const file_contents file = read_file(path);
  if (file.result != file_contents::outcome::read) return false;
  if (std::memchr(file.bytes.get(), '\0', file.size) != nullptr) return false;
  pugi::xml_document markup;
  if (!markup.load_buffer(file.bytes.get(), file.size, pugi::parse_full | pugi::parse_fragment)) {
    return false;
  }
  for (const pugi::xml_node node : markup.children()) {
    const pugi::xml_node_type type = node.type();
    if (type != pugi::node_comment && type != pugi::node_pi && type != pugi::node_declaration &&
        type != pugi::node_doctype) {
      return false;
    }
  }
  return true;
}

}  // namespace

load_result load_document(pugi::xml_document& document, const std::string& path) {
  document.reset();
  load_result loaded;
  file_contents file = read_file(path);
  loaded.identity = file.identity;
  if (file.result == file_contents::outcome::missing) return loaded;
  loaded.result = load_result::outcome::refused;
  if (file.result == file_contents::outcome::unreadable) {
    loaded.problem = file.problem;
    return loaded;
  }

  strict_reading strict = read_strictly(file.bytes.get(), file.size);
  if (strict.result == strict_reading::verdict::refused) {
    loaded.problem = strict.problem;
    return loaded;
  }
  // The document is loaded from the very text the strict reading judged,
  // in UTF-8 whatever the file's encoding, and parsed where it lies, so the
  // text is in memory once. The null after it is passed on, as pugixml's
  // load_file passes it: the parser then never takes a null inside the text
  // for its end.
  if (strict.utf8) {
    file.bytes = std::move(strict.utf8);
    file.size = strict.utf8_size;
  }
  const pugi::xml_parse_result parsed = document.load_buffer_inplace(
      file.bytes.get(), file.size + 1, pugi::parse_default, pugi::encoding_utf8);
  loaded.text = std::move(file.bytes);
  if (parsed.status == pugi::status_out_of_memory) {
    loaded.problem = kNotEnoughMemory;
  } else if (parsed.status == pugi::status_no_document_element) {
    // Without an element, a rewrite keeps nothing but the declaration: it
    // loses nothing when the file held nothing else a load keeps, and was
    // well-formed all the same.
    const bool only_markup = holds_only_markup(path);
    if (only_markup && strict.result == strict_reading::verdict::no_element) {
      loaded.result = load_result::outcome::loaded;
    }
    loaded.problem = only_markup ? strict.problem : "the file is not XML";
  } else if (strict.result != strict_reading::verdict::well_formed) {
    loaded.problem = strict.problem;
  } else if (!parsed) {
    loaded.problem = std::string("the file is not well-formed XML (") + parsed.description() + ")";
  } else {
    loaded.result = load_result::outcome::loaded;
  }
  if (loaded.result == load_result::outcome::loaded) {
    loaded.problem.clear();
  } else {
    document.reset();
  }
  return loaded;
}

namespace {

// Hands pugixml's output on as it is produced.
class sink_writer : public pugi::xml_writer {
 public:
  explicit sink_writer(const byte_sink& sink) : sink_(sink) {}
  void write(const void* data, std::size_t size) override {
    sink_(static_cast<const char*>(data), size);
  }

 private:
  const byte_sink& sink_;
};

}  // namespace

std::string save_document(const pugi::xml_document& document, const std::string& path,
                          const load_result& loaded) {
  return replace_file(path, loaded.identity, [&document](const byte_sink& sink) {
    sink_writer writer(sink);
    document.save(writer);
  });
}

}  // namespace updater
