#include "platform/path_walk_posix.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

namespace updater {

namespace {

// Puts the names in `path` on top of `ahead`, the first one last; "." and
// empty names go nowhere.
void push_names(const std::string& path, std::vector<std::string>& ahead) {
  const std::size_t first = ahead.size();
  for (std::size_t begin = 0, end = 0; begin <= path.size(); begin = end + 1) {
    end = std::min(path.find('/', begin), path.size());
    const std::string name = path.substr(begin, end - begin);
    if (!name.empty() && name != ".") ahead.push_back(name);
  }
  std::reverse(ahead.begin() + std::ptrdiff_t(first), ahead.end());
}

}  // namespace

located_file::located_file(const std::string& path) {
  if (folder.reset(open(path.rfind('/', 0) == 0 ? "/" : ".", kFolderFlags)); folder.get() < 0) {
    error = errno;
    return;
  }
  std::vector<std::string> ahead;
  push_names(path, ahead);
  for (int links = 0; !ahead.empty();) {
    const std::string next = std::move(ahead.back());
    ahead.pop_back();
    const int at = folder.get();
    if (fstatat(at, next.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      error = errno;
      if (error == ENOENT && ahead.empty()) {  // a file to be created
        error = 0;
        name = next;
      }
      return;
    }
    if (S_ISLNK(status.st_mode)) {
      struct stat target {};
      const bool dangling = fstatat(at, next.c_str(), &target, 0) != 0;
      if (status.st_uid != geteuid() && (dangling || target.st_uid != status.st_uid)) {
        refusal = ahead.empty() && links == 0
                      ? "it is a symbolic link of another user"
                      : "the way to it goes through a symbolic link of another user";
        return;
      }
      char text[PATH_MAX];
      const ssize_t size = readlinkat(at, next.c_str(), text, sizeof text);
      if (size < 0 || std::size_t(size) == sizeof text || ++links > 40) {
        error = size < 0 ? errno : links > 40 ? ELOOP : ENAMETOOLONG;
        return;
      }
      if (size > 0 && text[0] == '/') folder.reset(open("/", kFolderFlags));
      if (folder.get() < 0) {
        error = errno;
        return;
      }
      push_names(std::string(text, std::size_t(size)), ahead);
      continue;
    }
    if (ahead.empty()) {
      name = next;
      exists = true;
      return;
    }
    if (folder.reset(openat(at, next.c_str(), kFolderFlags | O_NOFOLLOW)); folder.get() < 0) {
      error = errno;
      return;
    }
  }
  exists = fstatat(folder.get(), name.c_str(), &status, 0) == 0;
}

}  // namespace updater
