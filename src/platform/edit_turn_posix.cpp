// Taking turns on Linux: an exclusive flock on the file's folder. The kernel
// drops it when the descriptor closes, also when the process dies.
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/console.h"
#include "platform/edit_turn.h"

namespace updater {

edit_turn::edit_turn(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return;  // edited without a turn
  constexpr long kStepMs = 20, kQuietMs = 1000, kPatienceMs = 10000;
  for (long waited = 0; flock(descriptor, LOCK_EX | LOCK_NB) != 0; waited += kStepMs) {
    if (errno != EWOULDBLOCK || waited >= kPatienceMs) {
      if (errno == EWOULDBLOCK) problem_ = kAnotherCopyEditing;
      close(descriptor);
      return;
    }
    if (waited == kQuietMs) print_line("Waiting for another copy of the updater ...");
    const timespec step{0, kStepMs * 1000000};
    nanosleep(&step, nullptr);
  }
  held_ = descriptor;
}

edit_turn::~edit_turn() {
  if (held_ >= 0) close(int(held_));
}

}  // namespace updater
