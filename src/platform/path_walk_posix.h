// Walking a path on Linux, one name at a time, as the reads and rewrites of
// file_access_posix.cpp and the turns of edit_turn_posix.cpp do.
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

 private:
  int number_;
};

// How the folders on a path are held: for walking on, not for reading.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// Where a path leads, walked one name at a time: the folder of the file,
// held open so that nothing swapped in later moves it, and the file's name
// there, never a symbolic link when it was walked. A symbolic link on the way
// is followed only when it belongs to the user who runs the program, or to
// the owner of the file it leads to; a dangling one only when it belongs to
// that user. So a link that another user planted in a shared folder leads
// neither a read nor a write anywhere.
struct located_file {
  explicit located_file(const std::string& path);

  file_descriptor folder;
  std::string name = ".";
  bool exists = false;
  struct stat status {};  // the file's, when it exists
  int error = 0;          // why the path could not be walked
  std::string refusal;    // or the link that was not followed
};

}  // namespace updater
