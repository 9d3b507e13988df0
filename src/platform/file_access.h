// Every file the program reads or writes goes through here, and this is the
// only place that writes to disk. Paths are UTF-8. Each platform has its own
// side of this interface (file_access_posix.cpp, file_access_windows.cpp).
//
// A rewrite is all-or-nothing: after replace_file returns, the file holds
// either its old bytes or the new ones, whole, also when the process dies or
// the disk fills up half way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace updater {

// The reason given wherever memory runs out.
inline constexpr char kNotEnoughMemory[] = "not enough memory";

// Memory that files are read into. It starts on a page boundary: on some
// processors the kernel copies a file's pages several times faster into
// such memory than into memory a few bytes past a boundary (one measured
// 5 times slower at 16 bytes past).
struct free_read_buffer {
  void operator()(char* bytes) const;
};
using read_buffer = std::unique_ptr<char[], free_read_buffer>;

// `size` bytes of read_buffer memory, not zeroed; null when memory runs out.
read_buffer allocate_read_buffer(std::size_t size);

// What tells one state of a file from another: where it lives, its size and
// its times. Equal identities mean the very file, unchanged.
struct file_identity {
  bool exists = false;
  std::uint64_t volume = 0, file = 0, size = 0;
  std::int64_t modified = 0, changed = 0;  // in the platform's own units
  bool operator==(const file_identity& other) const {
    return exists == other.exists && volume == other.volume && file == other.file &&
           size == other.size && modified == other.modified && changed == other.changed;
  }
};

// The reason replace_file gives when the path no longer holds the file read.
inline constexpr char kChangedMeanwhile[] =
    "the file was changed by another program meanwhile; run the updater again";

struct file_contents {
  enum class outcome { read, missing, unreadable };
  outcome result = outcome::missing;
  // The whole file, when read: `size` bytes followed by a null, which is not
  // part of the file, so that a parser may work on them in place.
  read_buffer bytes;
  std::size_t size = 0;
  std::string problem;     // why it could not be read, when unreadable
  file_identity identity;  // of the file read; `exists` is false when missing
};

// The reasons every platform side gives for a path that holds no regular file.
inline constexpr char kIsAFolder[] = "it is a folder";
inline constexpr char kNotARegularFile[] = "it is not a regular file";

// Reads the whole file in binary mode. A path whose file or folder does not
// exist is `missing`. A file that exists but cannot be read is `unreadable`,
// with the reason in plain words (no permission, in use by another program,
// a folder). Only regular files are read: a device or a pipe is reported as
// "it is not a regular file" without being opened for reading, so it can
// neither block the program nor flood it. Where the platform has symbolic
// links, one on the way (the file's own or a folder's) is followed only when
// it belongs to the user who runs the program, or to the owner of the file it
// leads to, and a dangling one only when it belongs to that user; otherwise
// the file is `unreadable` ("it is a symbolic link of another user").
file_contents read_file(const std::string& path);

// Receives the new content of a file, piece by piece, in order.
using byte_sink = std::function<void(const char* data, std::size_t size)>;

// Replaces the file's content with what `produce` hands to the sink it is
// given, provided the path still holds the file that was read as `read_as` (or
// still holds nothing, when none was there): this is checked just before the
// new file takes the old one's place, and otherwise kChangedMeanwhile is the
// reason. Returns an empty string when the new bytes are on disk; otherwise
// the reason in plain words, and the file is left exactly as it was, with no
// temporary file beside it. A file that does not exist is created. A file that
// is read-only, that the user may not write, that is not a regular file, that
// lies in a folder where nothing may be created or replaced, or that read_file
// would not follow a link to, is refused. After the first failed write, the
// sink ends `produce` early (by throwing through it); an exception from
// `produce` goes on once the temporary file is gone. Where the platform
// allows, the file keeps its owner, group, permission bits, attributes and
// access-control list, and a symbolic link stays a link to the rewritten file.
// A request to end the program (Ctrl+C, closing the window) that arrives
// during the rewrite abandons it, or lets it finish once the new file is in
// place, and then ends the program.
std::string replace_file(const std::string& path, const file_identity& read_as,
                         const std::function<void(const byte_sink&)>& produce);

// Opens the mod tool's log for reading in binary mode, shared with other
// programs: while it is open they may still write, rename or delete the log.
// Null when the log cannot be opened or is not a regular file (a folder, a
// device or a pipe, which are never opened for reading). `problem` is then
// set when the log is there but cannot be read (the user may not, another
// program holds it, too many files are open, a link that is not followed),
// and left as it is when there is no log.
std::FILE* open_log(const std::string& path, std::string& problem);

// For the platform sides of read_file: a file that could not be read, and why.
file_contents unreadable(std::string problem);

// For the platform sides of read_file: fills `file` by calling `read_some`
// until it returns 0. The buffer starts with room for `expected_size` bytes
// and one more, so the end shows in the first pass, and grows while the file
// does; the null after the bytes goes into that room. `read_some(into, room)` returns how many
// bytes it read, or -1 after a read error, which it keeps itself. False after such an error or when
// memory runs out; `file` is then not read.
bool read_to_end(file_contents& file, std::size_t expected_size,
                 const std::function<std::ptrdiff_t(char* into, std::size_t room)>& read_some);

// For the platform sides of replace_file: runs `produce`, handing its output
// to `write` in order, gathered into pieces of 64 KiB or more. Once `write`
// returns false, `produce` is ended early and nothing more is written.
void write_in_large_pieces(const std::function<void(const byte_sink&)>& produce,
                           const std::function<bool(const char* data, std::size_t size)>& write);

}  // namespace updater
