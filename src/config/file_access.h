// Reading and rewriting the mod tool's XML files.
//
// This is the only place where the program writes to disk. A rewrite is
// all-or-nothing: after replace_file returns, the file holds either its old
// bytes or the new ones, whole, also when the process dies or the disk fills
// up half way.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace updater {

struct file_contents {
  enum class outcome { read, missing, unreadable };
  outcome result = outcome::missing;
  std::string bytes;    // the whole file, when read
  std::string problem;  // why it could not be read, when unreadable
};

// Reads the whole file in binary mode. A path whose file or folder does not
// exist is `missing`; a file that exists but cannot be read (no permission, a
// folder, a read error) is `unreadable`, with the reason in plain words.
file_contents read_file(const std::string& path);

// Receives the new content of a file, piece by piece, in order.
using byte_sink = std::function<void(const char* data, std::size_t size)>;

// Replaces the file's content with what `produce` hands to the sink it is
// given. Returns an empty string when the new bytes are on disk; otherwise
// the reason in plain words, and the file is left exactly as it was. A file
// that does not exist is created; a file that may not be written
// (read-only, or in a folder where nothing may be created) is refused. The
// file keeps its permission bits, and a symbolic link stays a link to the
// rewritten file. No temporary file is left behind, unless the process is
// killed outright.
std::string replace_file(const std::string& path,
                         const std::function<void(const byte_sink&)>& produce);

// Plain words for a C library error number, such as "permission denied".
std::string describe_error(int error_number);

}  // namespace updater
