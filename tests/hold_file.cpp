// The second program of the Windows rows. "hold FILE MS" holds FILE open as a
// virus scanner does (reading; sharing reading and writing, not deletion) for
// MS milliseconds, or until its input ends when MS is "-", and prints "held"
// once it holds it; "lock" shares nothing, "share" everything. "scan FILE MS"
// prints "watching", waits up to 20 s for a temporary file beside FILE
// (FILE.tmp-*), tries without pause to open it as "hold" does until it is
// gone, and holds it MS milliseconds once open. "rename FROM TO" renames a
// file, as a program that rotates its log does. "console MODE COMMAND" leaves
// the console's input mode (hexadecimal) to COMMAND, as a launcher may, and
// prints the mode that COMMAND leaves behind, also when Ctrl+C ends it.
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
  if (verb != "hold" && verb != "lock" && verb != "share" && verb != "scan") return 1;
  std::string file = argv[2];
  WIN32_FIND_DATAA found;
  HANDLE held;
  if (verb == "scan" && std::puts("watching") >= 0 && std::fflush(stdout) == 0) {
    for (const ULONGLONG end = GetTickCount64() + 20000;
         (held = FindFirstFileA((file + ".tmp-*").c_str(), &found)) == INVALID_HANDLE_VALUE;) {
      if (GetTickCount64() > end) return 1;  // none came
    }
    FindClose(held);
    file = file.substr(0, file.rfind('/') + 1) + found.cFileName;
  }
  const DWORD sharing = verb == "lock" ? 0
                                       : FILE_SHARE_READ | FILE_SHARE_WRITE |
                                             (verb == "share" ? FILE_SHARE_DELETE : 0);
  while ((held = CreateFileA(file.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0,
                             nullptr)) == INVALID_HANDLE_VALUE &&
         verb == "scan" && GetLastError() == ERROR_SHARING_VIOLATION) {
  }
  if (held == INVALID_HANDLE_VALUE) return 1;
  std::puts("held");
  std::fflush(stdout);
  argv[3] == std::string("-") ? void(std::getchar()) : Sleep(DWORD(std::atoi(argv[3])));
}
