// The second program of the Windows rows. "hold FILE MS" holds FILE open as
// a virus scanner does (reading; sharing reading and writing, not deletion)
// for MS milliseconds, and prints "held" once it holds it; "lock FILE MS"
// does the same sharing nothing, as a program that takes the file for itself
// does. "rename FROM TO"
// renames a file, as a program that rotates its log does.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const std::string verb = argc == 4 ? argv[1] : "";
  if (verb == "rename") return MoveFileA(argv[2], argv[3]) ? 0 : 1;
  const DWORD sharing = verb == "lock" ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
  if ((verb != "hold" && verb != "lock") ||
      CreateFileA(argv[2], GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr) ==
          INVALID_HANDLE_VALUE) {
    return 1;
  }
  std::puts("held");
  std::fflush(stdout);
  Sleep(DWORD(std::atoi(argv[3])));
}
