#include "log/game_checksum.h"

#include <cstring>
#include <new>
#include <string_view>

#include "platform/file_access.h"

namespace updater {
namespace {

constexpr std::string_view kMarker = "Game checksum";
// The text after the marker's own space; the scan starts from it.
constexpr std::string_view kMarkerWordAfterSpace = "checksum";
constexpr std::size_t kReadChunk = 1 << 17;

// Position of the first marker in [data, data + size), or size when there is none.
std::size_t find_marker(const char* data, std::size_t size) {
  const char* end = data + size;
  const char* at = data;
  while (static_cast<std::size_t>(end - at) >= kMarker.size()) {
    at = static_cast<const char*>(
        std::memchr(at, kMarker[0], static_cast<std::size_t>(end - at) - kMarker.size() + 1));
    if (at == nullptr) break;
    if (std::memcmp(at + 1, kMarker.data() + 1, kMarker.size() - 1) == 0) {
      return static_cast<std::size_t>(at - data);
    }
    ++at;
  }
  return size;
}

}  // namespace

bool checksum_scanner::feed(const char* data, std::size_t size) {
  if (state_ == state::in_marked_line) take_marked_line(data, size);
  if (state_ != state::searching) return state_ == state::settled;

  const std::size_t keep = kMarker.size() - 1;
  if (!line_tail_.empty()) {
    // A marker split by the chunk edge: the tail never holds a line feed and
    // the marker holds none, so a match here lies within one line.
    std::string joined = line_tail_;
    joined.append(data, size < keep ? size : keep);
    const std::size_t at = find_marker(joined.data(), joined.size());
    if (at != joined.size()) {
      const std::size_t marker_end = at + kMarker.size() - line_tail_.size();
      line_tail_.clear();
      enter_marked_line(data + marker_end, size - marker_end);
      return state_ == state::settled;
    }
  }

  const std::size_t at = find_marker(data, size);
  if (at != size) {
    line_tail_.clear();
    const std::size_t marker_end = at + kMarker.size();
    enter_marked_line(data + marker_end, size - marker_end);
    return state_ == state::settled;
  }

  // Remember the end of the current line, in case the marker starts there.
  const std::size_t from = size > keep ? size - keep : 0;
  std::string_view end(data + from, size - from);
  const std::size_t line_feed = end.rfind('\n');
  if (line_feed != std::string_view::npos) {
    line_tail_.assign(end.substr(line_feed + 1));
  } else {
    line_tail_.append(end);
    if (line_tail_.size() > keep) line_tail_.erase(0, line_tail_.size() - keep);
  }
  return false;
}

void checksum_scanner::enter_marked_line(const char* rest, std::size_t size) {
  state_ = state::in_marked_line;
  after_space_.assign(kMarkerWordAfterSpace);
  take_marked_line(rest, size);
}

void checksum_scanner::take_marked_line(const char* data, std::size_t size) {
  const char* line_feed = static_cast<const char*>(std::memchr(data, '\n', size));
  const char* line_end = line_feed != nullptr ? line_feed : data + size;

  const char* space = line_end;
  while (space != data && *(space - 1) != ' ') --space;
  if (space != data) {
    after_space_.assign(space, line_end);
  } else {
    after_space_.append(data, line_end);
  }

  if (line_feed != nullptr) {
    if (!after_space_.empty() && after_space_.back() == '\r') {
      after_space_.pop_back();
    }
    state_ = state::settled;
  }
}

std::string checksum_scanner::finish() const {
  return state_ == state::searching ? std::string() : after_space_;
}

mod_tool_log::~mod_tool_log() {
  if (test_reader_ != nullptr) std::fclose(test_reader_);
  if (scan_reader_ != nullptr) std::fclose(scan_reader_);
}

bool mod_tool_log::log_is_readable() {
  if (test_reader_ == nullptr) test_reader_ = open_log(path_, problem_);
  return test_reader_ != nullptr;
}

std::string mod_tool_log::find_game_checksum() {
  if (scan_reader_ == nullptr) scan_reader_ = open_log(path_, problem_);
  if (scan_reader_ == nullptr) return std::string();

  checksum_scanner scanner;
  // Not zeroed: a short log touches only the pages it fills.
  const read_buffer chunk = allocate_read_buffer(kReadChunk);
  if (!chunk) throw std::bad_alloc();
  for (;;) {
    const std::size_t got = std::fread(chunk.get(), 1, kReadChunk, scan_reader_);
    if (got == 0 || scanner.feed(chunk.get(), got)) break;
  }
  // A read that fails is no end of the log.
  if (std::ferror(scan_reader_)) problem_ = "a read of the file failed";
  return scanner.finish();
}

}  // namespace updater
