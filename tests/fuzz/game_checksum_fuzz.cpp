// The streaming log scan must agree with a plain reading of the rule, for any
// bytes and any chunking: split into lines at line feeds, drop a carriage
// return before a line feed, take the first line holding "Game checksum",
// answer with the text after its last space.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "log/game_checksum.h"

namespace {

std::string plain_reading(std::string_view log) {
  for (std::size_t start = 0; start < log.size();) {
    const std::size_t end = std::min(log.find('\n', start), log.size());
    std::string_view line = log.substr(start, end - start);
    if (end < log.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find("Game checksum") != std::string_view::npos) {
      return std::string(line.substr(line.rfind(' ') + 1));
    }
    start = end + 1;
  }
  return std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the chunk size, so that chunk edges fall everywhere.
  const std::size_t chunk = std::size_t(data[0] % 32) + 1;
  const std::string_view log(reinterpret_cast<const char*>(data + 1), size - 1);
  updater::checksum_scanner scanner;
  for (std::size_t at = 0; at < log.size(); at += chunk) {
    if (scanner.feed(log.data() + at, std::min(chunk, log.size() - at))) break;
  }
  if (scanner.finish() != plain_reading(log)) std::abort();
  return 0;
}
