#include "platform/file_access.h"

#include <cstring>

namespace updater {

file_contents unreadable(std::string problem) {
  file_contents file;
  file.result = file_contents::outcome::unreadable;
  file.problem = std::move(problem);
  return file;
}

bool read_to_end(file_contents& file, std::size_t expected_size,
                 const std::function<std::ptrdiff_t(char* into, std::size_t room)>& read_some) {
  std::size_t capacity = expected_size + 1;
  file.bytes = allocate_read_buffer(capacity);
  file.size = 0;
  if (!file.bytes) return false;
  for (;;) {
    if (file.size == capacity) {  // the file has grown since its size was taken
      read_buffer grown = allocate_read_buffer(capacity * 2);
      if (!grown) return false;
      std::memcpy(grown.get(), file.bytes.get(), file.size);
      file.bytes = std::move(grown);
      capacity *= 2;
    }
    const std::ptrdiff_t got = read_some(file.bytes.get() + file.size, capacity - file.size);
    if (got < 0) return false;
    if (got == 0) break;  // the room left holds the null
    file.size += std::size_t(got);
  }
  file.bytes[file.size] = '\0';
  file.result = file_contents::outcome::read;
  return true;
}

void write_in_large_pieces(const std::function<void(const byte_sink&)>& produce,
                           const std::function<bool(const char* data, std::size_t size)>& write) {
  struct stopped {};
  constexpr std::size_t kPiece = 1 << 16;
  std::string pending;
  pending.reserve(kPiece);
  const auto write_or_stop = [&](const char* data, std::size_t size) {
    if (!write(data, size)) throw stopped();
  };
  try {
    produce([&](const char* data, std::size_t size) {
      if (pending.size() + size > kPiece) {
        write_or_stop(pending.data(), pending.size());
        pending.clear();
      }
      if (size >= kPiece) {
        write_or_stop(data, size);
      } else {
        pending.append(data, size);
      }
    });
    if (!pending.empty()) write_or_stop(pending.data(), pending.size());
  } catch (const stopped&) {
  }
}

}  // namespace updater
