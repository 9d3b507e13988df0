// The file access seam on Linux.
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/file_access.h"
#include "platform/path_walk_posix.h"

namespace updater {

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
      return kIsAFolder;
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
  if (S_ISDIR(mode)) return kIsAFolder;
  if (!S_ISREG(mode)) return kNotARegularFile;
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

}  // namespace

void free_read_buffer::operator()(char* bytes) const {
  std::free(bytes);
}

read_buffer allocate_read_buffer(std::size_t size) {
  void* bytes = nullptr;
  if (posix_memalign(&bytes, 4096, size) != 0) return read_buffer();
  return read_buffer(static_cast<char*>(bytes));
}

namespace {

// Opens the regular file the walk reached for reading. Its type is known
// before the open (opening a pipe for reading waits for a writer, and opening
// a device may act on it), and after it the descriptor must hold the very
// file walked. Gives the descriptor and the file's status, or -1 with why in
// `problem`, which stays empty when there is no file.
int open_walked_file(const located_file& found, struct stat& status, std::string& problem) {
  if (!found.refusal.empty()) {
    problem = found.refusal;
    return -1;
  }
  if (found.error == ENOENT || found.error == ENOTDIR || (found.error == 0 && !found.exists)) {
    return -1;
  }
  if (found.error != 0) {
    problem = describe_error(found.error);
    return -1;
  }
  if (problem = refusal_for_type(found.status.st_mode); !problem.empty()) return -1;
  // The very file the walk judged, opened again through the link the system
  // keeps to it, so that nothing put in its place since (a pipe) is opened;
  // by its name where /proc is not there, the identity then compared.
  int descriptor = -1;
  char reached[32];
  std::snprintf(reached, sizeof reached, "/proc/self/fd/%d", found.file.get());
  if (found.file.get() < 0 ||
      ((descriptor = open(reached, O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == ENOENT)) {
    descriptor = openat(found.folder.get(), found.name.c_str(),
                        O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  }
  if (descriptor < 0) {
    if (errno != ENOENT) problem = describe_error(errno);
    return -1;
  }
  // The name may have been given to something else since it was walked.
  if (fstat(descriptor, &status) != 0 || status.st_dev != found.status.st_dev ||
      status.st_ino != found.status.st_ino) {
    close(descriptor);
    problem = kChangedMeanwhile;
    return -1;
  }
  return descriptor;
}

int open_regular_file(const std::string& path, struct stat& status, std::string& problem) {
  return open_walked_file(located_file(path), status, problem);
}

}  // namespace

file_contents read_file(const std::string& path) {
  struct stat status {};
  std::string problem;
  // Closed on every way out, memory running out on the way included.
  const file_descriptor opened(open_regular_file(path, status, problem));
  const int descriptor = opened.get();
  if (descriptor < 0) return problem.empty() ? file_contents() : unreadable(problem);

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
  if (!read_whole) return unreadable(describe_error(error != 0 ? error : ENOMEM));
  file.identity = identity_of(status);
  return file;
}

std::FILE* open_log(const std::string& path, std::string& problem) {
  struct stat status {};
  std::string why;
  const int descriptor = open_regular_file(path, status, why);
  if (descriptor < 0) {
    // A folder or a pipe in its place is no log; a log that is there but
    // cannot be read is said to be so.
    if (why != kIsAFolder && why != kNotARegularFile) problem = why;
    return nullptr;
  }
  std::FILE* stream = fdopen(descriptor, "r");
  if (stream == nullptr) close(descriptor);
  return stream;
}

namespace {

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

// A new file beside `name` in `folder`, readable and writable by its owner
// alone. Until it is kept, it is closed and removed on every way out of a
// rewrite, an exception included.
class temporary_file {
 public:
  temporary_file(int folder, const std::string& name) : folder_(folder) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
      std::uint32_t bits = attempt;
      if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) < 0) bits ^= std::uint32_t(getpid()) << 8;
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, ".tmp-%08x", unsigned(bits));
      name_ = name + suffix;
      file.reset(openat(folder, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
      if (file.get() >= 0) return;
      error = errno;
      if (error != EEXIST) break;
    }
    name_.clear();
  }
  temporary_file(const temporary_file&) = delete;
  temporary_file& operator=(const temporary_file&) = delete;
  ~temporary_file() {
    file.reset();
    if (!name_.empty()) unlinkat(folder_, name_.c_str(), 0);
  }
  const std::string& name() const { return name_; }
  // It has become the file itself: there is nothing left to remove.
  void keep() { name_.clear(); }

  file_descriptor file;  // not open after a failed creation
  int error = 0;         // why the creation failed

 private:
  int folder_;
  std::string name_;
};

// The names of the file's extended attributes into `names`; false when they
// cannot be listed. A file system without them has none.
bool attribute_names(int file, std::vector<std::string>& names) {
  ssize_t size = flistxattr(file, nullptr, 0);
  if (size < 0) return errno == ENOTSUP;
  std::string list(std::size_t(size), '\0');
  if (size > 0 && (size = flistxattr(file, list.data(), list.size())) < 0) return false;
  for (std::size_t at = 0; at < std::size_t(size); at += names.back().size() + 1) {
    names.emplace_back(list.c_str() + at);
  }
  return true;
}

// Gives `to` every extended attribute of `from`, its access-control list
// among them, and takes from it those `from` lacks (such as a list taken from
// the folder's default). False when one could not be listed, read, set or
// removed: the file would lose what it grants or denies.
bool copy_attributes(int from, int to) {
  std::vector<std::string> names, extra;
  if (!attribute_names(from, names) || !attribute_names(to, extra)) return false;
  for (const std::string& name : extra) {
    if (std::find(names.begin(), names.end(), name) == names.end() &&
        fremovexattr(to, name.c_str()) != 0 && errno != ENODATA) {
      return false;
    }
  }
  for (const std::string& name : names) {
    const ssize_t size = fgetxattr(from, name.c_str(), nullptr, 0);
    std::string value(std::size_t(std::max<ssize_t>(size, 0)), '\0');
    if (size < 0 || fgetxattr(from, name.c_str(), value.data(), value.size()) != size ||
        fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) {
      return false;
    }
  }
  return true;
}

// Why no file may be replaced in the folder held as `folder`; empty when
// nothing is known against it. Renaming over a file in a folder that only
// lets files be added fails, and so does removing the temporary file after
// that. Read from the folder held, which needs no permission to list it.
std::string refusal_for_folder(int folder) {
  struct statx status {};
  if (statx(folder, "", AT_EMPTY_PATH, 0, &status) != 0) return std::string();
  const auto is = [&](std::uint64_t attribute) {
    return (status.stx_attributes_mask & status.stx_attributes & attribute) != 0;
  };
  if (is(STATX_ATTR_IMMUTABLE)) return "the folder may not be changed";
  if (is(STATX_ATTR_APPEND)) return "the folder only lets files be added";
  return std::string();
}

}  // namespace

std::string replace_file(const std::string& path, const file_identity& read_as,
                         const std::function<void(const byte_sink&)>& produce) {
  const located_file found(path);
  if (!found.refusal.empty()) return found.refusal;
  if (found.error != 0) return describe_error(found.error);
  const int folder = found.folder.get();
  const char* const name = found.name.c_str();
  // The file replaced, held from this first look to the last: its
  // attributes are copied from it, never from what bears its name later.
  struct stat old_file {};
  file_descriptor old;
  if (found.exists) {
    std::string problem;
    old.reset(open_walked_file(found, old_file, problem));
    if (old.get() < 0) return problem.empty() ? kChangedMeanwhile : problem;
    if (!(identity_of(old_file) == read_as)) return kChangedMeanwhile;
    // Without any write permission bit the file is read-only, also for root.
    if ((old_file.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return "the file is read-only";
    // Renaming over a file needs no write permission on the file itself,
    // but a file the user may not write is still refused.
    if (faccessat(old.get(), "", W_OK, AT_EMPTY_PATH | AT_EACCESS) != 0) {
      return describe_error(errno);
    }
  } else if (read_as.exists) {
    return kChangedMeanwhile;
  }
  if (std::string problem = refusal_for_folder(folder); !problem.empty()) return problem;
  // The folder itself, to flush the rename to disk.
  const file_descriptor opened_folder(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));

  const ending_signals_noted signals;
  // The handler at the end makes the stack unwind, and so the temporary file
  // go, also when nothing above catches an exception from `produce`.
  try {
    temporary_file temporary(folder, found.name);
    const int descriptor = temporary.file.get();
    if (descriptor < 0) return describe_error(temporary.error);

    // The new file belongs to whoever runs the program. Only a privileged
    // user may hand it to the old owner; a file of another user that cannot
    // be handed back is not taken from her. The old group stays whenever the
    // user may give it.
    if (found.exists && fchown(descriptor, old_file.st_uid, old_file.st_gid) != 0) {
      if (old_file.st_uid != geteuid() && old_file.st_uid != 0) {
        return "the file belongs to another user, who would lose it";
      }
      const int ignored = fchown(descriptor, uid_t(-1), old_file.st_gid);
      (void)ignored;
    }

    int error = 0;
    write_in_large_pieces(produce, [&](const char* data, std::size_t size) {
      if (!write_all(descriptor, std::string_view(data, size))) error = errno;
      return error == 0 && !signals.noted();
    });
    // Abandoned at once when the program is asked to end: no mode, no flush.
    const auto going_on = [&] { return error == 0 && !signals.noted(); };
    // The mode after the owner, whose change clears the setuid and setgid bits.
    if (going_on()) {
      mode_t mode = old_file.st_mode & 07777;
      if (!found.exists) {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
      }
      if (fchmod(descriptor, mode) != 0) error = errno;
    }
    // After the mode: an access-control list sets the group bits of the mode.
    if (going_on() && found.exists && !copy_attributes(old.get(), descriptor)) {
      return "its extended attributes could not be kept";
    }
    if (going_on() && fsync(descriptor) != 0) error = errno;
    if (temporary.file.reset() != 0 && error == 0) error = errno;
    if (!going_on()) return error != 0 ? describe_error(error) : "the program was asked to end";
    // The moment between this look and the rename stays open to another
    // program; everything it did before is seen here. The look is at the name
    // the new file takes, in the folder walked: a link laid there since the
    // read is not the file read.
    struct stat present {};
    const bool as_read = fstatat(folder, name, &present, AT_SYMLINK_NOFOLLOW) == 0
                             ? identity_of(present) == read_as
                             : !read_as.exists;
    if (!as_read) return kChangedMeanwhile;
    if (renameat(folder, temporary.name().c_str(), folder, name) != 0) return describe_error(errno);
    temporary.keep();
  } catch (...) {
    throw;
  }

  // Make the rename itself durable.
  if (opened_folder.get() >= 0) fsync(opened_folder.get());
  return std::string();
}

}  // namespace updater
