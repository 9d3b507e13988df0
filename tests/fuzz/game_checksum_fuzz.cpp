// The streaming log scan must agree with a plain reading of the rule, for any
// bytes and any chunking: split into lines at line feeds, drop a carriage
// return before a line feed, take the first line holding "Game checksum",
// answer with the text after its last space.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "log/game_checksum.h"

namespace {

std::string plain_reading(std::string_view log) {
  while (!log.empty()) {
    const std::size_t line_feed = log.find('\n');
    std::string_view line = log.substr(0, line_feed);
    if (line_feed != std::string_view::npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.find("Game checksum") != std::string_view::npos) {
      return std::string(line.substr(line.rfind(' ') + 1));
    }
    if (line_feed == std::string_view::npos) break;
    log.remove_prefix(line_feed + 1);
  }
  return std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the chunk size, so chunk edges fall everywhere.
  const std::size_t chunk = std::size_t(data[0] % 32) + 1;
  const std::string_view log(reinterpret_cast<const char*>(data + 1), size - 1);

  updater::checksum_scanner scanner;
  for (std::size_t at = 0; at < log.size(); at += chunk) {
    const std::string_view part = log.substr(at, chunk);
    if (scanner.feed(part.data(), part.size())) break;
  }
  if (scanner.finish() != plain_reading(log)) std::abort();
  return 0;
}
