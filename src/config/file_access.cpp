#include "config/file_access.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace updater {

std::string describe_error(int error_number) {
  switch (error_number) {
    case EACCES:
    case EPERM:
      return "permission denied";
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
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
    default: {
      std::string text = std::generic_category().message(error_number);
      if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = char(text[0] - 'A' + 'a');
      return text;
    }
  }
}

file_contents read_file(const std::string& path) {
  file_contents file;
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    file.result = file_contents::outcome::unreadable;
    file.problem = describe_error(EISDIR);
    return file;
  }
  errno = 0;
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) {
    const int error = errno;
    const bool missing = error == ENOENT || error == ENOTDIR;
    file.result = missing ? file_contents::outcome::missing : file_contents::outcome::unreadable;
    if (!missing) file.problem = describe_error(error);
    return file;
  }
  // One read when the size is known, then on to the end whatever the size said.
  std::error_code no_size;
  const std::uintmax_t size = std::filesystem::file_size(path, no_size);
  if (!no_size) {
    file.bytes.resize(std::size_t(size));
    file.bytes.resize(std::fread(file.bytes.data(), 1, file.bytes.size(), stream));
  }
  char chunk[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0) file.bytes.append(chunk, got);
  const int error = errno;
  if (std::ferror(stream)) {
    file.result = file_contents::outcome::unreadable;
    file.problem = describe_error(error != 0 ? error : EIO);
    file.bytes.clear();
  } else {
    file.result = file_contents::outcome::read;
  }
  std::fclose(stream);
  return file;
}

namespace {

// Runs `produce`, handing its output to `write` in pieces of about a
// megabyte rather than the small ones a serialiser makes.
void produce_gathered(const std::function<void(const byte_sink&)>& produce,
                      const byte_sink& write) {
  constexpr std::size_t kPiece = 1 << 20;
  std::string pending;
  pending.reserve(kPiece);
  produce([&](const char* data, std::size_t size) {
    if (pending.size() + size > kPiece) {
      write(pending.data(), pending.size());
      pending.clear();
    }
    if (size >= kPiece) {
      write(data, size);
    } else {
      pending.append(data, size);
    }
  });
  if (!pending.empty()) write(pending.data(), pending.size());
}

}  // namespace

#ifdef _WIN32

namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(size_t(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), size);
  return wide;
}

std::string describe_windows_error(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return "permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "the file is in use by another program";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "the disk is full";
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
      return "the folder does not exist";
    case ERROR_WRITE_PROTECT:
      return "the disk is read-only";
    default:
      return "Windows error " + std::to_string(error);
  }
}

}  // namespace

std::string replace_file(const std::string& path,
                         const std::function<void(const byte_sink&)>& produce) {
  const std::wstring target = widen(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
    // Replacing a file needs no right to write into it; a file that may not
    // be written (read-only, say) is still refused.
    HANDLE probe = CreateFileW(target.c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return describe_windows_error(GetLastError());
    CloseHandle(probe);
  }

  const std::wstring temporary = target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(GetTickCount());
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return describe_windows_error(GetLastError());

  DWORD error = ERROR_SUCCESS;
  produce_gathered(produce, [&](const char* data, std::size_t size) {
    while (size > 0 && error == ERROR_SUCCESS) {
      const DWORD part = size > (1u << 30) ? (1u << 30) : DWORD(size);
      DWORD written = 0;
      if (!WriteFile(file, data, part, &written, nullptr)) error = GetLastError();
      data += written;
      size -= written;
    }
  });
  if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
  if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
  if (error == ERROR_SUCCESS && !MoveFileExW(temporary.c_str(), target.c_str(),
                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    DeleteFileW(temporary.c_str());
    return describe_windows_error(error);
  }
  return std::string();
}

#else

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

// Holds back the signals that end a program from a terminal while the file
// is replaced, so that Ctrl+C cannot leave a temporary file behind.
class termination_signals_held {
 public:
  termination_signals_held() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal_number);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~termination_signals_held() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
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

std::string replace_file(const std::string& path,
                         const std::function<void(const byte_sink&)>& produce) {
  const std::string target = resolve_links(path);
  struct stat old_file {};
  const bool exists = stat(target.c_str(), &old_file) == 0;
  if (exists) {
    if (S_ISDIR(old_file.st_mode)) return describe_error(EISDIR);
    // Renaming over a file needs no write permission on the file itself;
    // a file its owner made read-only is still refused.
    if (access(target.c_str(), W_OK) != 0) return describe_error(errno);
  }

  const termination_signals_held held;
  std::string temporary = target + ".tmp-XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return describe_error(errno);

  mode_t mode = 0;
  if (exists) {
    mode = old_file.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }

  int error = 0;
  produce_gathered(produce, [&](const char* data, std::size_t size) {
    if (error == 0 && !write_all(descriptor, std::string_view(data, size))) error = errno;
  });
  if (error == 0 && fchmod(descriptor, mode) != 0) error = errno;
  if (error == 0 && exists && fchown(descriptor, old_file.st_uid, old_file.st_gid) != 0) {
    // Only a privileged user may hand a file to another owner; the new file
    // then belongs to whoever runs the program, as a fresh file would.
  }
  if (error == 0 && fsync(descriptor) != 0) error = errno;
  if (close(descriptor) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temporary.c_str());
    return describe_error(error);
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

#endif

}  // namespace updater
