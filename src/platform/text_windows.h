// UTF-8 and UTF-16 for the Windows sides of the platform, which hand text
// and paths to the wide Windows API, and the form of a path that API takes.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace updater {

// UTF-8 to UTF-16. Bytes that are not UTF-8 become U+FFFD.
inline std::wstring widen(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(std::size_t(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), size);
  return wide;
}

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD.
inline std::string narrow(std::wstring_view text) {
  if (text.empty()) return std::string();
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(std::size_t(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), size, nullptr,
                      nullptr);
  return bytes;
}

// The UTF-8 path as the wide API takes it in any folder Windows allows: the
// full path (from the current folder, with "\" between names and no "." or
// ".." left), in the "\\?\" form that no call cuts at 260 characters; a
// network path \\server\share\... becomes \\?\UNC\server\share\.... A path
// that cannot be made full is given as it is.
inline std::wstring long_path(const std::string& path) {
  const std::wstring given = widen(path);
  std::wstring full(MAX_PATH, L'\0');
  DWORD size = 0;
  while ((size = GetFullPathNameW(given.c_str(), DWORD(full.size()), full.data(), nullptr)) >=
         full.size()) {
    full.resize(size);  // too small: `size` counts the terminating null too
  }
  if (size == 0) return given;
  full.resize(size);
  if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) return full;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace updater
