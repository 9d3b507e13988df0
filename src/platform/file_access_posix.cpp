// The file access seam on Linux and other POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <iterator>
#include <string_view>
#include <system_error>

#include "platform/file_access.h"

namespace updater {

const bool kLogTextModeFoldsLineEnds = false;

namespace {

// Plain words for a C library error number, such as "permission denied".
std::string describe_error(int error_number) {
  switch (error_number) {
    case EACCES:
    case EPERM:
      return "permission denied";
    case ENOSPC:
    case EDQUOT:
      return "the disk is full";
    case EFBIG:
      return "the file would exceed the size limit";
    case EROFS:
      return "the disk is read-only";
    case ENOENT:
    case ENOTDIR:
      return "the folder does not exist";
    case EISDIR:
      return "it is a folder";
    case ENOMEM:
      return kNotEnoughMemory;
    default: {
      std::string text = std::generic_category().message(error_number);
      if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = char(text[0] - 'A' + 'a');
      return text;
    }
  }
}

// Why a file of this type is not read or replaced; empty for a regular file.
std::string refusal_for_type(mode_t mode) {
  if (S_ISDIR(mode)) return describe_error(EISDIR);
  if (!S_ISREG(mode)) return "it is not a regular file";
  return std::string();
}

file_identity identity_of(const struct stat& status) {
  file_identity identity;
  identity.exists = true;
  identity.volume = std::uint64_t(status.st_dev);
  identity.file = std::uint64_t(status.st_ino);
  identity.size = std::uint64_t(status.st_size);
  identity.modified = std::int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
  identity.changed = std::int64_t(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
  return identity;
}

// What the path holds now, following links as a read does.
file_identity identity_at(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? identity_of(status) : file_identity();
}

}  // namespace

void free_read_buffer::operator()(char* bytes) const {
  std::free(bytes);
}

read_buffer allocate_read_buffer(std::size_t size) {
  void* bytes = nullptr;
  if (posix_memalign(&bytes, 4096, size) != 0) return read_buffer();
  return read_buffer(static_cast<char*>(bytes));
}

file_contents read_file(const std::string& path) {
  // The type is checked before the file is opened: opening a pipe for
  // reading waits for a writer, and opening a device may act on it.
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return file_contents();
    return unreadable(describe_error(errno));
  }
  if (std::string problem = refusal_for_type(status.st_mode); !problem.empty()) {
    return unreadable(problem);
  }
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    if (errno == ENOENT) return file_contents();
    return unreadable(describe_error(errno));
  }
  // The path may have been swapped for something else since the check.
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return unreadable(refusal_for_type(status.st_mode));
  }

  file_contents file;
  int error = 0;
  const bool read_whole =
      read_to_end(file, std::size_t(status.st_size), [&](char* into, std::size_t room) {
        ssize_t got = 0;
        while ((got = read(descriptor, into, room)) < 0 && errno == EINTR) {
        }
        if (got < 0) error = errno;
        return std::ptrdiff_t(got);
      });
  close(descriptor);
  if (!read_whole) return unreadable(describe_error(error != 0 ? error : ENOMEM));
  file.identity = identity_of(status);
  return file;
}

std::FILE* open_log(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  std::FILE* stream = nullptr;
  if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)) stream = fdopen(descriptor, "r");
  if (stream == nullptr) close(descriptor);
  return stream;
}

namespace {

// Follows symbolic links to the file that is really rewritten, so a link
// stays a link. A dangling link leads to the file it names.
std::string resolve_links(const std::string& path) {
  std::filesystem::path resolved = path;
  std::error_code error;
  for (int hops = 0; hops < 40 && std::filesystem::is_symlink(resolved, error); ++hops) {
    const std::filesystem::path next = std::filesystem::read_symlink(resolved, error);
    if (error) break;
    resolved = next.is_absolute() ? next : resolved.parent_path() / next;
  }
  return resolved.string();
}

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile std::sig_atomic_t ending_signal = 0;

extern "C" void note_ending_signal(int signal_number) {
  ending_signal = signal_number;
}

// While alive, a signal that ends a program from a terminal is only noted,
// so that the rewrite can be abandoned cleanly or finished; on destruction it
// takes its course. A file size limit makes a write fail instead of ending
// the program. Signals the user had ignored stay ignored.
class ending_signals_noted {
 public:
  ending_signals_noted() {
    ending_signal = 0;
    struct sigaction note {};
    note.sa_handler = note_ending_signal;
    sigemptyset(&note.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
      sigaction(kEndingSignals[i], nullptr, &previous_[i]);
      if (previous_[i].sa_handler != SIG_IGN) sigaction(kEndingSignals[i], &note, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous_size_limit_);
  }
  ~ending_signals_noted() {
    sigaction(SIGXFSZ, &previous_size_limit_, nullptr);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
      sigaction(kEndingSignals[i], &previous_[i], nullptr);
    }
    if (ending_signal != 0) raise(ending_signal);
  }
  bool noted() const { return ending_signal != 0; }

 private:
  struct sigaction previous_[std::size(kEndingSignals)];
  struct sigaction previous_size_limit_;
};

bool write_all(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(descriptor, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(std::size_t(written));
  }
  return true;
}

}  // namespace

std::string replace_file(const std::string& path, const file_identity& read_as,
                         const std::function<void(const byte_sink&)>& produce) {
  const std::string target = resolve_links(path);
  struct stat old_file {};
  const bool exists = stat(target.c_str(), &old_file) == 0;
  if (exists) {
    if (std::string problem = refusal_for_type(old_file.st_mode); !problem.empty()) return problem;
    // Without any write permission bit the file is read-only, also for root.
    if ((old_file.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return "the file is read-only";
    // Renaming over a file needs no write permission on the file itself,
    // but a file the user may not write is still refused.
    if (access(target.c_str(), W_OK) != 0) return describe_error(errno);
  }

  const ending_signals_noted signals;
  std::string temporary = target + ".tmp-XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return describe_error(errno);

  int error = 0;
  write_in_large_pieces(produce, [&](const char* data, std::size_t size) {
    if (!write_all(descriptor, std::string_view(data, size))) error = errno;
    return error == 0 && !signals.noted();
  });
  // Abandoned at once when the program is asked to end: no mode, no flush.
  const auto going_on = [&] { return error == 0 && !signals.noted(); };
  if (going_on() && exists) {
    // The owner first, since changing it clears the setuid and setgid bits.
    // Only a privileged user may hand a file to another owner; otherwise the
    // new file belongs to whoever runs the program.
    const int ignored = fchown(descriptor, old_file.st_uid, old_file.st_gid);
    (void)ignored;
  }
  if (going_on()) {
    mode_t mode = old_file.st_mode & 07777;
    if (!exists) {
      const mode_t mask = umask(0);
      umask(mask);
      mode = 0666 & ~mask;
    }
    if (fchmod(descriptor, mode) != 0) error = errno;
  }
  if (going_on() && fsync(descriptor) != 0) error = errno;
  if (close(descriptor) != 0 && error == 0) error = errno;
  // The moment between this look and the rename stays open to another
  // program; everything it did before is seen here.
  const bool changed = going_on() && !(identity_at(path) == read_as);
  bool renamed = false;
  if (going_on() && !changed) {
    renamed = rename(temporary.c_str(), target.c_str()) == 0;
    if (!renamed) error = errno;
  }
  if (!renamed) {
    unlink(temporary.c_str());
    if (changed) return kChangedMeanwhile;
    return error != 0 ? describe_error(error) : "the program was asked to end";
  }

  // Make the rename itself durable.
  const std::string folder = std::filesystem::path(target).parent_path().string();
  const int folder_descriptor = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (folder_descriptor >= 0) {
    fsync(folder_descriptor);
    close(folder_descriptor);
  }
  return std::string();
}

}  // namespace updater
