// Finding the game checksum in the mod tool's log.
//
// The mod tool writes a line holding "Game checksum" into "logs/Zelbix.log".
// The checksum is the text after the last space of the first such line.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace updater {

inline constexpr char kLogPath[] = "logs/Zelbix.log";

// Reads the scan rule over bytes fed in any chunking. A line ends at a line
// feed; a carriage return right before the line feed belongs to the line end.
// The first line containing "Game checksum" (case-sensitive) decides the
// result: everything after its last space, untouched. Later lines are ignored.
// Memory use stays bounded by the result, whatever the line lengths.
class checksum_scanner {
 public:
  // Feeds the next bytes of the log. Returns true once the result is settled;
  // further bytes are then ignored.
  bool feed(const char* data, std::size_t size);
  // The checksum, given that the log ends after the bytes fed so far (a last
  // line without a line end counts). Empty when no line was marked.
  std::string finish() const;

 private:
  enum class state { searching, in_marked_line, settled };
  void enter_marked_line(const char* rest, std::size_t size);
  void take_marked_line(const char* data, std::size_t size);

  state state_ = state::searching;
  std::string line_tail_;    // last bytes of the current line, for a marker split by a chunk edge
  std::string after_space_;  // text after the last space seen in the marked line
};

// The mod tool's log, opened read-only as bytes, alike on every platform. Both
// readers stay open for the life of this object, so the log stays open
// while the rest of the run goes on; it is shared, so the mod tool may still
// write, rename or delete it meanwhile.
class mod_tool_log {
 public:
  explicit mod_tool_log(std::string path = kLogPath) : path_(std::move(path)) {}
  ~mod_tool_log();
  mod_tool_log(const mod_tool_log&) = delete;
  mod_tool_log& operator=(const mod_tool_log&) = delete;

  // True when the log can be opened for reading. Only a regular file is a
  // log: a folder, a device or a pipe is not.
  bool log_is_readable();
  // Why the log could not be opened or read although it is there (the user
  // may not read it, another program holds it, a read failed); empty when it
  // counts as missing.
  const std::string& problem() const { return problem_; }
  // Opens a second reader and scans it. Empty when the log holds no marked
  // line, when the marked line ends in a space, or when the open or a read
  // fails (`problem` then says why, unless the log has gone meanwhile).
  std::string find_game_checksum();

 private:
  std::string path_;
  std::string problem_;
  std::FILE* test_reader_ = nullptr;
  std::FILE* scan_reader_ = nullptr;
};

}  // namespace updater
