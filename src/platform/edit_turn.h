// Copies of the updater take turns at editing the files of one folder, so
// that no copy's rewrite undoes another's: each edit (read, change, write,
// replace) runs while its copy holds the folder's turn. The turn belongs to
// the folder itself, whichever path reached it, and nothing of it outlives
// the copy that holds it, however that copy ends. Each platform has its own
// side of this interface (edit_turn_posix.cpp, edit_turn_windows.cpp).
#pragma once

#include <cstdint>
#include <string>

namespace updater {

// The reason given when another copy keeps the turn too long.
inline constexpr char kAnotherCopyEditing[] = "another copy of the updater is still editing it";

class edit_turn {
 public:
  // Waits for the turn at the folder that holds the file at `path`. Quiet for
  // the first second, then prints "Waiting for another copy of the updater
  // ..." once; gives up after about ten seconds, with kAnotherCopyEditing as
  // the problem. A folder that cannot be taken in turns (it cannot be opened
  // for it) is edited without a turn, as by a program that is not the updater.
  explicit edit_turn(const std::string& path);
  ~edit_turn();
  edit_turn(const edit_turn&) = delete;
  edit_turn& operator=(const edit_turn&) = delete;

  // Empty when this copy may edit; otherwise why it may not.
  const std::string& problem() const { return problem_; }

 private:
  std::intptr_t held_ = -1;  // the platform's handle on the turn, when held
  std::string problem_;
};

}  // namespace updater
