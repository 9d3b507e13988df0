// Walking a path on Linux one name at a time, as the reads, the rewrites
// and the turns of the Linux side do: the kernel never follows a link for
// us, so every link on the way is judged before it leads anywhere.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace updater {

// A descriptor that is closed when it goes.
class file_descriptor {
 public:
  explicit file_descriptor(int number = -1) : number_(number) {}
  file_descriptor(const file_descriptor&) = delete;
  file_descriptor& operator=(const file_descriptor&) = delete;
  ~file_descriptor() { reset(); }
  int get() const { return number_; }
  // Closes the descriptor held, if any, and holds `number`; gives close's result.
  int reset(int number = -1) {
    const int result = number_ >= 0 ? close(number_) : 0;
    number_ = number;
    return result;
  }
  void swap(file_descriptor& other) { std::swap(number_, other.number_); }

 private:
  int number_;
};

// Where a path leads. Each name on the way is opened as what it is, never
// followed by the kernel, and judged by what was opened: a link's text and
// owner come from the very link opened, so swapping links meanwhile can only
// lead to a refusal or to a file the rule allows. The rule: a symbolic link
// is followed when it belongs to the user who runs the program, to root, or
// to the owner of what it leads to (the folder or the file the walk reaches
// through it); a dangling one only when it belongs to that user or to root.
// A link the system keeps for a running program (its open files, its
// folders: /proc/<pid>/fd/... and the like), whose text need not name what it
// leads to, is never followed.
struct located_file {
  explicit located_file(const std::string& path);

  file_descriptor folder;  // the folder of the file, held for walking on (O_PATH)
  std::string name = ".";  // the file's name there, never a link when walked
  file_descriptor file;    // the file itself as reached (O_PATH), unless a folder or missing
  bool exists = false;
  struct stat status {};  // the file's as the walk reached it, when it exists
  int error = 0;          // why the path could not be walked
  std::string refusal;    // or the link that was not followed
};

}  // namespace updater
