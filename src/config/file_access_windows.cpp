// The file access seam on Windows. Paths go from UTF-8 to UTF-16 once, here,
// and every call is the wide one.
#include <windows.h>

#include <cstdio>

#include "config/file_access.h"

namespace updater {

const bool kLogTextModeFoldsLineEnds = true;

namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(std::size_t(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), size);
  return wide;
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
    default:
      return "Windows error " + std::to_string(error);
  }
}

file_contents unreadable(std::string problem) {
  file_contents file;
  file.result = file_contents::outcome::unreadable;
  file.problem = std::move(problem);
  return file;
}

}  // namespace

file_contents read_file(const std::string& path) {
  const std::wstring wide_path = widen(path);
  const DWORD attributes = GetFileAttributesW(wide_path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return file_contents();
    return unreadable(describe_error(error));
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return unreadable("it is a folder");

  const HANDLE handle = CreateFileW(wide_path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return unreadable(describe_error(GetLastError()));
  LARGE_INTEGER size{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
    CloseHandle(handle);
    return unreadable("it is not a regular file");
  }

  file_contents file;
  // Room for one byte more than the size, to see the end in the first pass;
  // a file that grows meanwhile is read on to its end.
  std::size_t capacity = std::size_t(size.QuadPart) + 1;
  file.bytes.reset(static_cast<char*>(std::malloc(capacity)));
  DWORD error = file.bytes ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
  while (error == ERROR_SUCCESS) {
    if (file.size == capacity) {
      char* grown = static_cast<char*>(std::realloc(file.bytes.get(), capacity * 2));
      if (grown == nullptr) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        break;
      }
      file.bytes.release();
      file.bytes.reset(grown);
      capacity *= 2;
    }
    const std::size_t room = capacity - file.size;
    DWORD got = 0;
    if (!ReadFile(handle, file.bytes.get() + file.size,
                  room > (1u << 30) ? (1u << 30) : DWORD(room), &got, nullptr)) {
      error = GetLastError();
    } else if (got == 0) {
      break;
    }
    file.size += got;
  }
  CloseHandle(handle);
  if (error != ERROR_SUCCESS) return unreadable(describe_error(error));
  file.result = file_contents::outcome::read;
  return file;
}

std::FILE* open_log(const std::string& path) {
  const std::wstring wide_path = widen(path);
  const DWORD attributes = GetFileAttributesW(wide_path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return nullptr;
  }
  return _wfopen(wide_path.c_str(), L"r");
}

namespace {

struct write_stopped {};

}  // namespace

std::string replace_file(const std::string& path,
                         const std::function<void(const byte_sink&)>& produce) {
  const std::wstring target = widen(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
    if (attributes & FILE_ATTRIBUTE_READONLY) return "the file is read-only";
    // Replacing a file needs no right to write into it; a file that may not
    // be written (read-only, say) is still refused.
    HANDLE probe = CreateFileW(target.c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return describe_error(GetLastError());
    CloseHandle(probe);
  }

  const std::wstring temporary = target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(GetTickCount());
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return describe_error(GetLastError());

  DWORD error = ERROR_SUCCESS;
  try {
    write_in_large_pieces(produce, [&](const char* data, std::size_t size) {
      while (size > 0 && error == ERROR_SUCCESS) {
        const DWORD part = size > (1u << 30) ? (1u << 30) : DWORD(size);
        DWORD written = 0;
        if (!WriteFile(file, data, part, &written, nullptr)) error = GetLastError();
        data += written;
        size -= written;
      }
      if (error != ERROR_SUCCESS) throw write_stopped();
    });
  } catch (const write_stopped&) {
  }
  if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
  if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
  if (error == ERROR_SUCCESS && !MoveFileExW(temporary.c_str(), target.c_str(),
                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    DeleteFileW(temporary.c_str());
    return describe_error(error);
  }
  return std::string();
}

}  // namespace updater
