// UTF-8 and UTF-16 for the Windows sides of the platform, which hand text
// and paths to the wide Windows API.
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

}  // namespace updater
