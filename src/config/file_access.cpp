#include "config/file_access.h"

namespace updater {

void write_in_large_pieces(const std::function<void(const byte_sink&)>& produce,
                           const byte_sink& write) {
  constexpr std::size_t kPiece = 1 << 16;
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

}  // namespace updater
