// The file access seam on Windows. Paths go from UTF-8 to UTF-16 once, here,
// into their long form, and every call is the wide one.
#define NOMINMAX
#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <vector>

#include "platform/console_windows.h"
#include "platform/file_access.h"
#include "platform/text_windows.h"

namespace updater {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A handle closed on every way out, memory running out on the way included:
// a file left open could not be replaced.
using held_handle = std::unique_ptr<void, decltype(&CloseHandle)>;

bool held_by_another_program(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

std::string describe_error(DWORD error) {
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
    case ERROR_CANT_RESOLVE_FILENAME:  // links that lead to each other
      return "too many levels of symbolic links";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return kNotEnoughMemory;
    default:
      return "Windows error " + std::to_string(error);
  }
}

// Other programs hold files open for a moment: a virus scanner or the search
// indexer looking at a file just written, a sync client, the mod tool still
// shutting down. Such a hold shows as one of the errors above, and is waited
// out, with growing pauses, for about two seconds in all.
class lock_wait {
 public:
  // True when `error` may come from a passing hold and time is left; it has
  // then waited a little, and the caller tries again.
  bool wait_again(DWORD error) {
    if (!held_by_another_program(error) || waited_ >= kPatienceMs) return false;
    Sleep(pause_);
    waited_ += pause_;
    pause_ = std::min<DWORD>(pause_ * 2, 250);
    return true;
  }

 private:
  static constexpr DWORD kPatienceMs = 2000;
  DWORD pause_ = 1;
  DWORD waited_ = 0;
};

// CreateFileW of an existing file, shared with every other program, waiting
// out a passing hold. `error` is why it failed, or ERROR_SUCCESS.
HANDLE open_existing(const std::wstring& path, DWORD access, DWORD& error) {
  lock_wait locks;
  HANDLE handle;
  while ((handle = CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr)) == INVALID_HANDLE_VALUE &&
         locks.wait_again(error = GetLastError())) {
  }
  // A hold waited out leaves no error behind.
  if (handle != INVALID_HANDLE_VALUE) error = ERROR_SUCCESS;
  return handle;
}

// The identity of the file open as `handle`; one that does not exist when
// Windows cannot tell.
file_identity identity_of(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  file_identity identity;
  if (!GetFileInformationByHandle(handle, &information)) return identity;
  identity.exists = true;
  identity.volume = information.dwVolumeSerialNumber;
  identity.file = std::uint64_t(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
  identity.size = std::uint64_t(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
  identity.modified = std::int64_t(std::uint64_t(information.ftLastWriteTime.dwHighDateTime) << 32 |
                                   information.ftLastWriteTime.dwLowDateTime);
  // The change time moves with every write, also when a program puts the
  // last-write time back afterwards, as a sync tool may.
  FILE_BASIC_INFO times{};
  if (GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times)) {
    identity.changed = times.ChangeTime.QuadPart;
  }
  return identity;
}

// What the path holds now: opened for its attributes alone, which any
// program's sharing allows.
file_identity identity_at(const std::wstring& path) {
  const HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return file_identity();
  const file_identity identity = identity_of(handle);
  CloseHandle(handle);
  return identity;
}

}  // namespace

void free_read_buffer::operator()(char* bytes) const {
  _aligned_free(bytes);
}

read_buffer allocate_read_buffer(std::size_t size) {
  return read_buffer(static_cast<char*>(_aligned_malloc(size, 4096)));
}

namespace {

// Opens the regular file at the wide path for reading, shared with every
// other program (so that one may still rename or delete it meanwhile) and
// waiting out a passing hold. INVALID_HANDLE_VALUE with why in `problem`,
// which stays empty when there is no file.
HANDLE open_regular_file(const std::wstring& path, std::string& problem) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      problem = describe_error(error);
    }
    return INVALID_HANDLE_VALUE;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    problem = kIsAFolder;
    return INVALID_HANDLE_VALUE;
  }
  DWORD error = ERROR_SUCCESS;
  const HANDLE handle = open_existing(path, GENERIC_READ, error);
  if (handle == INVALID_HANDLE_VALUE) {
    problem = describe_error(error);
  } else if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    problem = kNotARegularFile;
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

}  // namespace

file_contents read_file(const std::string& path) {
  std::string problem;
  const HANDLE handle = open_regular_file(long_path(path), problem);
  if (handle == INVALID_HANDLE_VALUE)
    return problem.empty() ? file_contents() : unreadable(problem);
  const held_handle opened(handle, &CloseHandle);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle, &size)) return unreadable(kNotARegularFile);

  file_contents file;
  file.identity = identity_of(handle);
  lock_wait locks;  // another program's lock on a part of the file refuses a read
  DWORD error = ERROR_SUCCESS;
  const bool read_whole =
      read_to_end(file, std::size_t(size.QuadPart), [&](char* into, std::size_t room) {
        DWORD got = 0;
        while (
            !ReadFile(handle, into, DWORD(std::min<std::size_t>(room, 1u << 30)), &got, nullptr)) {
          if (!locks.wait_again(error = GetLastError())) return std::ptrdiff_t(-1);
        }
        error = ERROR_SUCCESS;
        return std::ptrdiff_t(got);
      });
  if (!read_whole) {
    return unreadable(describe_error(error != ERROR_SUCCESS ? error : ERROR_NOT_ENOUGH_MEMORY));
  }
  return file;
}

std::FILE* open_log(const std::string& path, std::string& problem) {
  // The runtime's own shared open does not share deletion, which would stop
  // the mod tool from renaming or deleting its log while we hold it.
  std::string why;
  const HANDLE handle = open_regular_file(long_path(path), why);
  if (handle == INVALID_HANDLE_VALUE) {
    // A folder or a device in its place is no log; a log that is there but
    // cannot be read (the mod tool still holds it without sharing) is said to be so.
    if (why != kIsAFolder && why != kNotARegularFile) problem = why;
    return nullptr;
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* stream = _fdopen(descriptor, "rb");
  if (stream == nullptr) _close(descriptor);
  return stream;
}

namespace {

// Whether a request to end the program (Ctrl+C, closing the window) arrived
// during a rewrite. The handler and the rewrite decide under one lock, so
// that a request is either noted while the rewrite runs or, once it is over,
// handed on to end the program: none is lost between the two.
SRWLOCK requests_lock = SRWLOCK_INIT;
bool rewriting = false;  // guarded by requests_lock
std::atomic<bool> end_requested{false};
HANDLE rewrite_settled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
// How long a close request waits for the rewrite to settle: Windows ends a
// program five seconds after its console window is closed.
constexpr DWORD kSettleMs = 4000;

BOOL WINAPI note_end_request(DWORD event) {
  AcquireSRWLockExclusive(&requests_lock);
  const bool noted = rewriting;
  if (noted) end_requested = true;
  ReleaseSRWLockExclusive(&requests_lock);
  if (!noted) return FALSE;  // the rewrite is over: on to the handlers that end the program
  // Ctrl+C and Ctrl+Break: the rewrite notices, cleans up and ends the program.
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // Closing the window, logging off, shutting down: the program ends as soon
  // as this returns, so the rewrite gets a few seconds to clean up first.
  WaitForSingleObject(rewrite_settled, kSettleMs);
  return FALSE;
}

// While alive, a request to end the program from the console is only noted,
// so that the rewrite can be abandoned cleanly or finished; on destruction it
// ends the program as Ctrl+C would have.
class end_requests_noted {
 public:
  end_requests_noted() {
    AcquireSRWLockExclusive(&requests_lock);
    rewriting = true;
    end_requested = false;
    ReleaseSRWLockExclusive(&requests_lock);
    ResetEvent(rewrite_settled);
    SetConsoleCtrlHandler(note_end_request, TRUE);
  }
  ~end_requests_noted() {
    SetEvent(rewrite_settled);
    AcquireSRWLockExclusive(&requests_lock);
    rewriting = false;
    const bool end = end_requested;
    ReleaseSRWLockExclusive(&requests_lock);
    SetConsoleCtrlHandler(note_end_request, FALSE);
    if (end) end_as_interrupted();
  }
  bool noted() const { return end_requested; }
};

// Under Wine, which keeps access as Linux permission bits and would write
// them from a list, not as they were (an owner-only list gives the group the
// owner's rights), no list is copied: the new file has the permissions the
// umask gives.
bool under_wine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The old file's access-control list, which the new file is created with:
// shut off from the entries the folder passes on, so that it is never open to
// more than the old file was, also not for a moment. When the old list took
// those entries (it was not protected), the new file takes them again once
// created, as the old one did.
struct access_list {
  PSECURITY_DESCRIPTOR read = nullptr;  // as read from the old file
  PACL list = nullptr;                  // inside `read`
  bool inherits = false;
  SECURITY_DESCRIPTOR made{};
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &made, FALSE};

  access_list() = default;
  access_list(const access_list&) = delete;
  access_list& operator=(const access_list&) = delete;
  ~access_list() { LocalFree(read); }

  // Reads the list of the file open as `old` (with READ_CONTROL); the reason
  // when it cannot.
  std::string read_from(HANDLE old) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    const DWORD error = GetSecurityInfo(old, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, &list, nullptr, &read);
    // A file system that keeps no lists has none to keep.
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) return std::string();
    if (error != ERROR_SUCCESS) return describe_error(error);
    if (!GetSecurityDescriptorControl(read, &control, &revision) ||
        !InitializeSecurityDescriptor(&made, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&made, TRUE, list, FALSE) ||
        !SetSecurityDescriptorControl(&made, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      return describe_error(GetLastError());
    }
    inherits = !(control & SE_DACL_PROTECTED);
    return std::string();
  }
};

// The attributes a user or a tool may have given the file, which the new
// file keeps.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                  FILE_ATTRIBUTE_ENCRYPTED;
// FileDispositionInfoEx, which not every SDK's headers name; its flags.
constexpr auto kDispositionInfoEx = FILE_INFO_BY_HANDLE_CLASS(21);
constexpr DWORD kDispositionDelete = 0x1, kDispositionPosixSemantics = 0x2;

// The temporary file of a rewrite, created beside the file it replaces. It
// stays open, with the right to delete it, until it takes that file's place
// or is deleted on the way out, both through this handle; it is shared with
// nobody but programs that allow its deletion, so another program can block
// neither step.
class temporary_file {
 public:
  // Creates the file with `attributes` (encrypted, when they say so) and
  // `security`, when given; `error` says why it failed.
  temporary_file(const std::wstring& path, DWORD attributes, SECURITY_ATTRIBUTES* security,
                 DWORD& error) {
    // Without the rights to compress it and to change its list where they
    // are refused: it then stays as created.
    for (const DWORD access : {DWORD(GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC),
                               DWORD(GENERIC_WRITE | DELETE)}) {
      file = CreateFileW(path.c_str(), access, FILE_SHARE_DELETE, security, CREATE_NEW,
                         attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
      error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
      if (error != ERROR_ACCESS_DENIED) break;
    }
  }
  temporary_file(const temporary_file&) = delete;
  temporary_file& operator=(const temporary_file&) = delete;
  ~temporary_file() {
    if (file == INVALID_HANDLE_VALUE) return;
    if (!renamed) {
      // Gone from the folder at once where the file system allows it, even
      // while a scanner still holds it; otherwise when the last handle closes.
      DWORD posix = kDispositionDelete | kDispositionPosixSemantics;
      FILE_DISPOSITION_INFO gone{TRUE};
      if (!SetFileInformationByHandle(file, kDispositionInfoEx, &posix, sizeof posix)) {
        SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
      }
    }
    CloseHandle(file);
  }
  // Renames the file as `rename` says, over the file it names; false when
  // that fails.
  bool rename_over(std::vector<std::byte>& rename) {
    renamed = SetFileInformationByHandle(file, FileRenameInfo, rename.data(), DWORD(rename.size()));
    return renamed;
  }

  HANDLE file = INVALID_HANDLE_VALUE;

 private:
  bool renamed = false;
};

// Gives the new file what the old one had beyond its bytes: compression, and
// the folder's entries in its access-control list where the old one took
// them. The reason when the first cannot be done.
std::string match_old_file(HANDLE file, DWORD old_attributes, const access_list& access) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) return describe_error(GetLastError());
  if ((old_attributes & FILE_ATTRIBUTE_ENCRYPTED) &&
      !(information.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED)) {
    return "the file is encrypted and the new file could not be";
  }
  USHORT format = COMPRESSION_FORMAT_DEFAULT;
  DWORD returned = 0;
  if ((old_attributes & FILE_ATTRIBUTE_COMPRESSED) &&
      !(information.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) &&
      !DeviceIoControl(file, FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0, &returned,
                       nullptr)) {
    return "the file is compressed and the new file could not be";
  }
  // Where this fails, the new file keeps the old list as it was, shut off.
  if (access.inherits) {
    SetSecurityInfo(file, SE_FILE_OBJECT,
                    DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                    nullptr, access.list, nullptr);
  }
  return std::string();
}

// What renames a file over `target`, a full path in the wide API's form.
std::vector<std::byte> renaming_to(const std::wstring& target) {
  std::vector<std::byte> rename(offsetof(FILE_RENAME_INFO, FileName) +
                                (target.size() + 1) * sizeof(WCHAR));
  auto* info = new (rename.data()) FILE_RENAME_INFO{};
  info->ReplaceIfExists = TRUE;
  info->FileNameLength = DWORD(target.size() * sizeof(WCHAR));  // without the null after it
  std::memcpy(info->FileName, target.c_str(), (target.size() + 1) * sizeof(WCHAR));
  return rename;
}

// Looks at the file the path `named` leads to before anything is written.
// `target` becomes where the new file goes: the path of that very file (a
// symbolic link on the way, its own or a folder's, is followed, so that the
// link stays a link to the rewritten file), or `named` when there is no file.
// `attributes` are the file's own and `access` its access-control list. The
// reason when the file may not be replaced.
std::string look_before_writing(const std::wstring& named, std::wstring& target, DWORD& attributes,
                                access_list& access) {
  target = named;
  attributes = 0;
  // Opened for its attributes alone, which any program's sharing allows.
  const HANDLE look = CreateFileW(named.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (look == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      return describe_error(error);
    }
    // A link that leads nowhere would be replaced by a file.
    if (GetFileAttributesW(named.c_str()) != INVALID_FILE_ATTRIBUTES) {
      return "it is a symbolic link that leads nowhere";
    }
    return std::string();
  }
  held_handle looked(look, &CloseHandle);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(look, &information)) return describe_error(GetLastError());
  const DWORD type = GetFileType(look);
  std::wstring final_path(MAX_PATH, L'\0');
  DWORD size = 0;
  while ((size = GetFinalPathNameByHandleW(look, final_path.data(), DWORD(final_path.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) >=
         final_path.size()) {
    final_path.resize(size);  // too small: `size` counts the terminating null too
  }
  looked.reset();
  attributes = information.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kIsAFolder;
  if (type != FILE_TYPE_DISK) return kNotARegularFile;
  if (attributes & FILE_ATTRIBUTE_READONLY) return "the file is read-only";
  if (size != 0) {
    target = final_path.substr(0, size);
  } else if (GetFileAttributesW(named.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) {
    return "it is a symbolic link whose file the updater cannot name";
  }

  // Replacing a file needs no right to write into it, only to delete it; a
  // file that may not be written is still refused.
  DWORD error = ERROR_SUCCESS;
  const HANDLE probe = open_existing(target, GENERIC_WRITE | DELETE | READ_CONTROL, error);
  if (probe == INVALID_HANDLE_VALUE) return describe_error(error);
  const held_handle probed(probe, &CloseHandle);
  return under_wine() ? std::string() : access.read_from(probe);
}

}  // namespace

std::string replace_file(const std::string& path, const file_identity& read_as,
                         const std::function<void(const byte_sink&)>& produce) {
  const std::wstring named = long_path(path);
  std::wstring target;
  DWORD attributes = 0;
  access_list access;
  if (std::string problem = look_before_writing(named, target, attributes, access);
      !problem.empty()) {
    return problem;
  }

  std::vector<std::byte> rename = renaming_to(target);
  const end_requests_noted requests;
  // The handler at the end makes the stack unwind, and so the temporary file
  // go, also when nothing above catches an exception from `produce`.
  try {
    DWORD error = ERROR_SUCCESS;
    temporary_file temporary(target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(GetTickCount()),
                             attributes & kKeptAttributes,
                             access.read != nullptr ? &access.attributes : nullptr, error);
    if (error != ERROR_SUCCESS) return describe_error(error);
    if (const std::string problem = match_old_file(temporary.file, attributes, access);
        !problem.empty()) {
      return problem;
    }

    write_in_large_pieces(produce, [&](const char* data, std::size_t size) {
      while (size > 0 && error == ERROR_SUCCESS) {
        const DWORD part = DWORD(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(temporary.file, data, part, &written, nullptr)) error = GetLastError();
        data += written;
        size -= written;
      }
      return error == ERROR_SUCCESS && !requests.noted();
    });
    if (error == ERROR_SUCCESS && !requests.noted() && !FlushFileBuffers(temporary.file)) {
      error = GetLastError();
    }
    if (error != ERROR_SUCCESS) return describe_error(error);
    if (requests.noted()) return "the program was asked to end";

    for (lock_wait locks;;) {
      // The look at what the path holds comes before every try: a program
      // that holds the old file, and makes the replace wait, may change it
      // meanwhile. The moment between this look and the replace stays open
      // to another program; everything it did before is seen here.
      if (!(identity_at(named) == read_as)) return kChangedMeanwhile;
      if (temporary.rename_over(rename)) break;
      // The old file could be written and deleted, and the new one is open
      // with the right to delete it, so a refusal comes from a program that
      // holds the old file open.
      if (!locks.wait_again(error = GetLastError())) {
        return describe_error(held_by_another_program(error) ? ERROR_SHARING_VIOLATION : error);
      }
      // Once the program is asked to end, the rewrite is abandoned.
      if (requests.noted()) return "the program was asked to end";
    }
  } catch (...) {
    throw;
  }
  return std::string();
}

}  // namespace updater
