// The second program of the Windows rows. "hold FILE MS" holds FILE open as a
// virus scanner does (reading; sharing reading and writing, not deletion) for
// MS milliseconds, and prints "held" once it holds it; "lock" shares nothing,
// "share" everything. "rename FROM TO" renames a file, as a program that
// rotates its log does. "console MODE COMMAND" leaves the console's input
// mode (hexadecimal) to COMMAND, as a launcher may, and prints the mode that
// COMMAND leaves behind, also when Ctrl+C ends it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const std::string verb = argc == 4 ? argv[1] : "";
  if (verb == "rename") return MoveFileA(argv[2], argv[3]) ? 0 : 1;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = verb.empty() ? 0 : std::strtoul(argv[2], nullptr, 16);
  STARTUPINFOA start{sizeof start};
  PROCESS_INFORMATION child{};
  if (verb == "console" && SetConsoleMode(input, mode) &&
      SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE) &&
      CreateProcessA(nullptr, argv[3], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                     &child)) {
    WaitForSingleObject(child.hProcess, INFINITE);
    GetConsoleMode(input, &mode);
    return std::printf("input mode afterwards: %lx\n", mode) < 0;
  }
  const DWORD sharing = verb == "lock" ? 0
                                       : FILE_SHARE_READ | FILE_SHARE_WRITE |
                                             (verb == "share" ? FILE_SHARE_DELETE : 0);
  if ((verb != "hold" && verb != "lock" && verb != "share") ||
      CreateFileA(argv[2], GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr) ==
          INVALID_HANDLE_VALUE) {
    return 1;
  }
  std::puts("held");
  std::fflush(stdout);
  Sleep(DWORD(std::atoi(argv[3])));
}
