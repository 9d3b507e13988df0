#include "config/config_document.h"

#include "config/file_access.h"

namespace updater {

load_result load_document(pugi::xml_document& document, const std::string& path) {
  document.reset();
  load_result loaded;
  file_contents file = read_file(path);
  if (file.result == file_contents::outcome::missing) return loaded;
  if (file.result == file_contents::outcome::unreadable) {
    loaded.result = load_result::outcome::refused;
    loaded.problem = file.problem;
    return loaded;
  }

  const pugi::xml_parse_result parsed = document.load_buffer(file.bytes.data(), file.bytes.size());
  if (parsed || parsed.status == pugi::status_no_document_element) {
    loaded.result = load_result::outcome::loaded;
    return loaded;
  }
  document.reset();
  loaded.result = load_result::outcome::refused;
  loaded.problem = std::string("the file is not well-formed XML (") + parsed.description() +
                   " at offset " + std::to_string(parsed.offset) + ")";
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

std::string save_document(const pugi::xml_document& document, const std::string& path) {
  return replace_file(path, [&document](const byte_sink& sink) {
    sink_writer writer(sink);
    document.save(writer);
  });
}

}  // namespace updater
