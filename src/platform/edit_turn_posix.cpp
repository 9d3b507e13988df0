// Taking turns on Linux: an exclusive flock on the file's folder, the one the
// walk of its path reaches. The kernel drops it when the descriptor closes,
// also when the process dies.
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/console.h"
#include "platform/edit_turn.h"
#include "platform/path_walk_posix.h"

namespace updater {

edit_turn::edit_turn(const std::string& path) {
  // The folder the walk reached, opened for reading, which a lock needs.
  const located_file found(path);
  if (found.folder.get() < 0 || found.error != 0 || !found.refusal.empty()) return;
  const int descriptor = openat(found.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
