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
#include <new>
#include <vector>

#include "platform/file_access.h"
#include "platform/text_windows.h"

namespace updater {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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
    problem = "it is a folder";
    return INVALID_HANDLE_VALUE;
  }
  DWORD error = ERROR_SUCCESS;
  const HANDLE handle = open_existing(path, GENERIC_READ, error);
  if (handle == INVALID_HANDLE_VALUE) {
    problem = describe_error(error);
  } else if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    problem = "it is not a regular file";
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
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle, &size)) {
    CloseHandle(handle);
    return unreadable("it is not a regular file");
  }

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
  CloseHandle(handle);
  if (!read_whole) {
    return unreadable(describe_error(error != ERROR_SUCCESS ? error : ERROR_NOT_ENOUGH_MEMORY));
  }
  return file;
}

std::FILE* open_log(const std::string& path) {
  // The runtime's own shared open does not share deletion, which would stop
  // the mod tool from renaming or deleting its log while we hold it.
  std::string problem;
  const HANDLE handle = open_regular_file(long_path(path), problem);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
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
// during a rewrite.
std::atomic<bool> end_requested{false};
HANDLE rewrite_settled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
// How long a close request waits for the rewrite to settle: Windows ends a
// program five seconds after its console window is closed.
constexpr DWORD kSettleMs = 4000;

BOOL WINAPI note_end_request(DWORD event) {
  end_requested = true;
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
    end_requested = false;
    ResetEvent(rewrite_settled);
    SetConsoleCtrlHandler(note_end_request, TRUE);
  }
  ~end_requests_noted() {
    SetEvent(rewrite_settled);
    SetConsoleCtrlHandler(note_end_request, FALSE);
    if (end_requested) ExitProcess(STATUS_CONTROL_C_EXIT);
  }
  bool noted() const { return end_requested; }
};

// The attributes a user or a tool may have given the file, which the new
// file keeps.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The temporary file of a rewrite, created beside the file it replaces. It
// stays open, with the right to delete it, until it takes that file's place
// or is deleted on the way out, both through this handle: another program may
// open it meanwhile only when it shares deletion, so it can block neither.
class temporary_file {
 public:
  temporary_file(const std::wstring& path, DWORD attributes) {
    // Without the right to change its access-control list where that is
    // refused: the new file then keeps the folder's.
    for (const DWORD access : {GENERIC_WRITE | DELETE | WRITE_DAC, GENERIC_WRITE | DELETE}) {
      file = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) break;
    }
  }
  temporary_file(const temporary_file&) = delete;
  temporary_file& operator=(const temporary_file&) = delete;
  ~temporary_file() {
    if (file == INVALID_HANDLE_VALUE) return;
    FILE_DISPOSITION_INFO gone{TRUE};
    if (!renamed) SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
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

// Gives the file open as `to` (with the right to change its access) the
// access-control list of the file at `from`, and that list's protection from
// the entries its folder passes on, or the lack of it. Where the list cannot
// be read or set, `to` keeps its own; so it does under Wine, which keeps
// access as Linux permission bits and would rewrite them from the list, not as
// they were (an owner-only list gives the group the owner's rights).
void copy_access_control(const std::wstring& from, HANDLE to) {
  if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) return;
  const HANDLE old = CreateFileW(from.c_str(), READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (old == INVALID_HANDLE_VALUE) return;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (GetSecurityInfo(old, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                      nullptr, &descriptor) == ERROR_SUCCESS &&
      GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    // Set alone, the list would take on the entries the folder passes on.
    const SECURITY_INFORMATION inheritance = control & SE_DACL_PROTECTED
                                                 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                 : UNPROTECTED_DACL_SECURITY_INFORMATION;
    SetSecurityInfo(to, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr,
                    list, nullptr);
  }
  LocalFree(descriptor);
  CloseHandle(old);
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

}  // namespace

std::string replace_file(const std::string& path, const file_identity& read_as,
                         const std::function<void(const byte_sink&)>& produce) {
  const std::wstring target = long_path(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
    if (attributes & FILE_ATTRIBUTE_READONLY) return "the file is read-only";
    // Replacing a file needs no right to write into it, only to delete it; a
    // file that may not be written is still refused.
    DWORD error = ERROR_SUCCESS;
    const HANDLE probe = open_existing(target, GENERIC_WRITE | DELETE, error);
    if (probe == INVALID_HANDLE_VALUE) return describe_error(error);
    const DWORD type = GetFileType(probe);
    CloseHandle(probe);
    if (type != FILE_TYPE_DISK) return "it is not a regular file";
  }

  std::vector<std::byte> rename = renaming_to(target);
  const end_requests_noted requests;
  // The handler at the end makes the stack unwind, and so the temporary file
  // go, also when nothing above catches an exception from `produce`.
  try {
    temporary_file temporary(target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(GetTickCount()),
                             exists ? attributes & kKeptAttributes : 0);
    if (temporary.file == INVALID_HANDLE_VALUE) return describe_error(GetLastError());

    DWORD error = ERROR_SUCCESS;
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
    if (exists && error == ERROR_SUCCESS && !requests.noted()) {
      copy_access_control(target, temporary.file);
    }
    if (error == ERROR_SUCCESS && !requests.noted() && !FlushFileBuffers(temporary.file)) {
      error = GetLastError();
    }
    if (error != ERROR_SUCCESS) return describe_error(error);
    if (requests.noted()) return "the program was asked to end";

    // The moment between this look and the replace stays open to another
    // program; everything it did before is seen here.
    if (!(identity_at(target) == read_as)) return kChangedMeanwhile;
    for (lock_wait locks; !temporary.rename_over(rename);) {
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
