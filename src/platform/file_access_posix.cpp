// The file access seam on Linux.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/file_access.h"

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

// A descriptor that is closed when it goes.
class file_descriptor {
 public:
  explicit file_descriptor(int number = -1) : number_(number) {}
  file_descriptor(const file_descriptor&) = delete;
  file_descriptor& operator=(const file_descriptor&) = delete;
  ~file_descriptor() { reset(); }
  int get() const { return number_; }
  // Closes the descriptor held, if any, and holds `number`; gives close's result.
  int reset(int number = -1) {
    const int result = number_ >= 0 ? close(number_) : 0;
    number_ = number;
    return result;
  }

 private:
  int number_;
};

// How the folders on a path are held: for walking on, not for reading.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// Puts the names in `path` on top of `ahead`, the first one last; "." and
// empty names go nowhere.
void push_names(const std::string& path, std::vector<std::string>& ahead) {
  const std::size_t first = ahead.size();
  for (std::size_t begin = 0, end = 0; begin <= path.size(); begin = end + 1) {
    end = std::min(path.find('/', begin), path.size());
    const std::string name = path.substr(begin, end - begin);
    if (!name.empty() && name != ".") ahead.push_back(name);
  }
  std::reverse(ahead.begin() + std::ptrdiff_t(first), ahead.end());
}

// Where a path leads, walked one name at a time: the folder of the file,
// held open so that nothing swapped in later moves it, and the file's name
// there, never a symbolic link when it was walked. A symbolic link on the way
// is followed only when it belongs to the user who runs the program, or to
// the owner of the file it leads to; a dangling one only when it belongs to
// that user. So a link that another user planted in a shared folder leads
// neither a read nor a write anywhere.
struct located_file {
  explicit located_file(const std::string& path);

  file_descriptor folder;
  std::string name = ".";
  bool exists = false;
  struct stat status {};  // the file's, when it exists
  int error = 0;          // why the path could not be walked
  std::string refusal;    // or the link that was not followed
};

located_file::located_file(const std::string& path) {
  if (folder.reset(open(path.rfind('/', 0) == 0 ? "/" : ".", kFolderFlags)); folder.get() < 0) {
    error = errno;
    return;
  }
  std::vector<std::string> ahead;
  push_names(path, ahead);
  for (int links = 0; !ahead.empty();) {
    const std::string next = std::move(ahead.back());
    ahead.pop_back();
    const int at = folder.get();
    if (fstatat(at, next.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      error = errno;
      if (error == ENOENT && ahead.empty()) {  // a file to be created
        error = 0;
        name = next;
      }
      return;
    }
    if (S_ISLNK(status.st_mode)) {
      struct stat target {};
      const bool dangling = fstatat(at, next.c_str(), &target, 0) != 0;
      if (status.st_uid != geteuid() && (dangling || target.st_uid != status.st_uid)) {
        refusal = ahead.empty() && links == 0
                      ? "it is a symbolic link of another user"
                      : "the way to it goes through a symbolic link of another user";
        return;
      }
      char text[PATH_MAX];
      const ssize_t size = readlinkat(at, next.c_str(), text, sizeof text);
      if (size < 0 || std::size_t(size) == sizeof text || ++links > 40) {
        error = size < 0 ? errno : links > 40 ? ELOOP : ENAMETOOLONG;
        return;
      }
      if (size > 0 && text[0] == '/') folder.reset(open("/", kFolderFlags));
      if (folder.get() < 0) {
        error = errno;
        return;
      }
      push_names(std::string(text, std::size_t(size)), ahead);
      continue;
    }
    if (ahead.empty()) {
      name = next;
      exists = true;
      return;
    }
    if (folder.reset(openat(at, next.c_str(), kFolderFlags | O_NOFOLLOW)); folder.get() < 0) {
      error = errno;
      return;
    }
  }
  exists = fstatat(folder.get(), name.c_str(), &status, 0) == 0;
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

// Opens the regular file at `path` for reading, walked as located_file walks
// it. Its type is known before the open (opening a pipe for reading waits for
// a writer, and opening a device may act on it) and checked again after it.
// Gives the descriptor and the file's status, or -1 with why in `problem`,
// which stays empty when there is no file.
int open_regular_file(const std::string& path, struct stat& status, std::string& problem) {
  const located_file found(path);
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
  status = found.status;
  if (problem = refusal_for_type(status.st_mode); !problem.empty()) return -1;
  const int descriptor = openat(found.folder.get(), found.name.c_str(),
                                O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) {
    if (errno != ENOENT) problem = describe_error(errno);
    return -1;
  }
  // The name may have been given to something else since it was walked.
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    problem = refusal_for_type(status.st_mode);
    return -1;
  }
  return descriptor;
}

}  // namespace

file_contents read_file(const std::string& path) {
  struct stat status {};
  std::string problem;
  const int descriptor = open_regular_file(path, status, problem);
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
  close(descriptor);
  if (!read_whole) return unreadable(describe_error(error != 0 ? error : ENOMEM));
  file.identity = identity_of(status);
  return file;
}

std::FILE* open_log(const std::string& path, std::string&) {
  struct stat status {};
  std::string problem;
  const int descriptor = open_regular_file(path, status, problem);
  if (descriptor < 0) return nullptr;
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

// The names of the file's extended attributes that can be listed.
std::vector<std::string> attribute_names(int file) {
  const ssize_t size = flistxattr(file, nullptr, 0);
  std::string list(std::size_t(std::max<ssize_t>(size, 0)), '\0');
  const ssize_t got = list.empty() ? 0 : flistxattr(file, list.data(), list.size());
  std::vector<std::string> names;
  for (std::size_t at = 0; got > 0 && at < std::size_t(got); at += names.back().size() + 1) {
    names.emplace_back(list.c_str() + at);
  }
  return names;
}

// Gives `to` every extended attribute of `from` that can be read, and takes
// from it those `from` lacks (such as an access-control list taken from the
// folder's default). What cannot be set or removed stays as it is.
void copy_attributes(int from, int to) {
  const std::vector<std::string> names = attribute_names(from);
  for (const std::string& name : attribute_names(to)) {
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      fremovexattr(to, name.c_str());
    }
  }
  for (const std::string& name : names) {
    const ssize_t size = fgetxattr(from, name.c_str(), nullptr, 0);
    std::string value(std::size_t(std::max<ssize_t>(size, 0)), '\0');
    if (size >= 0 && fgetxattr(from, name.c_str(), value.data(), value.size()) == size) {
      fsetxattr(to, name.c_str(), value.data(), value.size(), 0);
    }
  }
}

// Why no file may be replaced in this folder; empty when nothing is known
// against it. Renaming over a file in a folder that only lets files be added
// fails, and so does removing the temporary file after that.
std::string refusal_for_folder(int folder) {
  int flags = 0;
  if (folder < 0 || ioctl(folder, FS_IOC_GETFLAGS, &flags) != 0) return std::string();
  if (flags & FS_IMMUTABLE_FL) return "the folder may not be changed";
  if (flags & FS_APPEND_FL) return "the folder only lets files be added";
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
  const struct stat& old_file = found.status;
  if (found.exists) {
    if (std::string problem = refusal_for_type(old_file.st_mode); !problem.empty()) return problem;
    // Without any write permission bit the file is read-only, also for root.
    if ((old_file.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return "the file is read-only";
    // Renaming over a file needs no write permission on the file itself,
    // but a file the user may not write is still refused.
    if (faccessat(folder, name, W_OK, 0) != 0) return describe_error(errno);
  }
  // The folder itself, to flush the rename to disk and to read its flags.
  const file_descriptor opened_folder(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (std::string problem = refusal_for_folder(opened_folder.get()); !problem.empty()) {
    return problem;
  }

  const ending_signals_noted signals;
  // The handler at the end makes the stack unwind, and so the temporary file
  // go, also when nothing above catches an exception from `produce`.
  try {
    temporary_file temporary(folder, found.name);
    const int descriptor = temporary.file.get();
    if (descriptor < 0) return describe_error(temporary.error);

    int error = 0;
    write_in_large_pieces(produce, [&](const char* data, std::size_t size) {
      if (!write_all(descriptor, std::string_view(data, size))) error = errno;
      return error == 0 && !signals.noted();
    });
    // Abandoned at once when the program is asked to end: no mode, no flush.
    const auto going_on = [&] { return error == 0 && !signals.noted(); };
    // The owner first, since changing it clears the setuid and setgid bits.
    // Only a privileged user may hand a file to another owner; otherwise the
    // new file belongs to whoever runs the program, and keeps the old group
    // when that user may give it that group.
    if (going_on() && found.exists && fchown(descriptor, old_file.st_uid, old_file.st_gid) != 0) {
      const int ignored = fchown(descriptor, uid_t(-1), old_file.st_gid);
      (void)ignored;
    }
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
    if (going_on() && found.exists) {
      const file_descriptor old(
          openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
      if (old.get() >= 0) copy_attributes(old.get(), descriptor);
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
