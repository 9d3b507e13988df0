#include "platform/path_walk_posix.h"

#include <linux/magic.h>
#include <sys/vfs.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

namespace updater {

namespace {

// How the folders on a path are held: for walking on, not for reading.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr int kMostLinks = 40;

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

// A link the walk took: its owner, and how many names were ahead of it, so
// that it has led somewhere once the walk is back to that many.
struct taken_link {
  uid_t owner;
  std::size_t names_after;
  bool is_the_file;  // the path's own last name, not a link on the way
};

bool trusted(uid_t owner) {
  return owner == geteuid() || owner == 0;
}

std::string refusal_for(const taken_link& link, const char* what) {
  return std::string(link.is_the_file ? "it is " : "the way to it goes through ") + what;
}

}  // namespace

located_file::located_file(const std::string& path) {
  if (folder.reset(open(path.rfind('/', 0) == 0 ? "/" : ".", kFolderFlags)); folder.get() < 0) {
    error = errno;
    return;
  }
  std::vector<std::string> ahead;
  push_names(path, ahead);
  std::vector<taken_link> links;  // those that have not yet led anywhere
  int followed = 0;
  // Judges the links that have led to where the walk stands, given the owner
  // of what is there, or none (-1) when nothing is.
  const auto judge_links = [&](uid_t reached_owner) {
    for (; !links.empty() && links.back().names_after == ahead.size(); links.pop_back()) {
      const uid_t owner = links.back().owner;
      if (!trusted(owner) && (reached_owner == uid_t(-1) || owner != reached_owner)) {
        refusal = refusal_for(links.back(), "a symbolic link of another user");
        return false;
      }
    }
    return true;
  };
  while (!ahead.empty()) {
    const std::string next = std::move(ahead.back());
    ahead.pop_back();
    file_descriptor reached(openat(folder.get(), next.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (reached.get() < 0 || fstat(reached.get(), &status) != 0) {
      error = errno;
      if (error == ENOENT && ahead.empty() && judge_links(uid_t(-1))) {  // a file to be created
        error = 0;
        name = next;
      }
      return;
    }
    if (S_ISLNK(status.st_mode)) {
      struct statfs system {};
      const taken_link link{status.st_uid, ahead.size(), ahead.empty() && links.empty()};
      if (fstatfs(reached.get(), &system) != 0 || system.f_type == PROC_SUPER_MAGIC) {
        refusal = refusal_for(link, "a link the system keeps for a running program");
        return;
      }
      // The text of the link opened, not of whatever bears its name now.
      char text[PATH_MAX];
      const ssize_t size = readlinkat(reached.get(), "", text, sizeof text);
      if (size < 0 || std::size_t(size) == sizeof text || ++followed > kMostLinks) {
        error = size < 0 ? errno : followed > kMostLinks ? ELOOP : ENAMETOOLONG;
        return;
      }
      links.push_back(link);
      if (size > 0 && text[0] == '/') folder.reset(open("/", kFolderFlags));
      push_names(std::string(text, std::size_t(size)), ahead);
      // A link to "." or "/" has led to the folder the walk stands in.
      if (folder.get() < 0 ||
          (ahead.size() == link.names_after &&
           (fstat(folder.get(), &status) != 0 || !judge_links(status.st_uid)))) {
        error = errno;
        return;
      }
      continue;
    }
    if (!judge_links(status.st_uid)) return;
    if (ahead.empty()) {
      name = next;
      exists = true;
      file.swap(reached);
      return;
    }
    if (!S_ISDIR(status.st_mode)) {
      error = ENOTDIR;
      return;
    }
    folder.swap(reached);
  }
  // The path named a folder ("." or "/" among them), which `name` now holds.
  exists = fstat(folder.get(), &status) == 0;
}

}  // namespace updater
