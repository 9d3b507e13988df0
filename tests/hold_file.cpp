// The second program of the Windows rows. "hold FILE MS" holds FILE open as a
// virus scanner does (reading; sharing reading and writing, not deletion) for
// MS milliseconds, or until its input ends when MS is "-", and prints "held"
// once it holds it; "lock" shares nothing, "share" everything. "scan FILE MS"
// prints "watching", waits up to 20 s for a temporary file beside FILE
// (FILE.tmp-*), tries without pause to open it as "hold" does until it is
// gone, and holds it MS milliseconds once open. "grab FILE MS" waits so too,
// then holds FILE itself for MS milliseconds, the moment the updater replaces
// it; "change FILE MS" also writes "0.7" over its first "0.0" half way. "rename
// FROM TO" renames a file, as a program that rotates its log does. "console
// MODE COMMAND" leaves the console's input mode (hexadecimal) and output mode
// 0 to COMMAND, as a launcher may, types the UTF-16 text of the file "keys"
// into the console once it appears (at once, when it is there before COMMAND
// starts), and prints the modes that COMMAND leaves behind, also when Ctrl+C
// ends it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  const std::string verb = argc == 4 ? argv[1] : "";
  if (verb == "rename") return MoveFileA(argv[2], argv[3]) ? 0 : 1;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE), output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = verb.empty() ? 0 : std::strtoul(argv[2], nullptr, 16), output_mode = 0, written = 0;
  STARTUPINFOA start{sizeof start};
  PROCESS_INFORMATION child{};
  if (verb == "console" && SetConsoleMode(input, mode) && SetConsoleMode(output, 0) &&
      SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE) &&
      CreateProcessA(nullptr, argv[3], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                     &child)) {
    do {  // first at once, as keys typed ahead of the program's start
      const std::string text{
          std::istreambuf_iterator<char>(std::ifstream("keys", std::ios::binary).rdbuf()), {}};
      if (text.empty() || !DeleteFileA("keys")) continue;
      for (std::size_t at = 0; at + 1 < text.size(); at += 2) {
        INPUT_RECORD key{KEY_EVENT, {}};
        key.Event.KeyEvent = {TRUE, 1, 0, 0, {}, 0};
        key.Event.KeyEvent.uChar.UnicodeChar = WCHAR(BYTE(text[at]) | BYTE(text[at + 1]) << 8);
        key.Event.KeyEvent.wVirtualKeyCode = text[at] == '\r' && !text[at + 1] ? VK_RETURN : 0;
        WriteConsoleInputW(input, &key, 1, &written);
      }
    } while (WaitForSingleObject(child.hProcess, 50) == WAIT_TIMEOUT);
    GetConsoleMode(input, &mode);
    GetConsoleMode(output, &output_mode);
    SetConsoleMode(output, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
    return std::printf("modes afterwards: %lx %lx\n", mode, output_mode) < 0;
  }
  const bool watch = verb == "scan" || verb == "grab" || verb == "change";
  if (verb != "hold" && verb != "lock" && verb != "share" && !watch) return 1;
  std::string file = argv[2];
  WIN32_FIND_DATAA found;
  HANDLE held;
  if (watch && std::puts("watching") >= 0 && std::fflush(stdout) == 0) {
    for (const ULONGLONG end = GetTickCount64() + 20000;
         (held = FindFirstFileA((file + ".tmp-*").c_str(), &found)) == INVALID_HANDLE_VALUE;) {
      if (GetTickCount64() > end) return 1;  // none came
    }
    FindClose(held);
    if (verb == "scan") file = file.substr(0, file.rfind('/') + 1) + found.cFileName;
  }
  const DWORD sharing = verb == "lock" ? 0
                                       : FILE_SHARE_READ | FILE_SHARE_WRITE |
                                             (verb == "share" ? FILE_SHARE_DELETE : 0);
  while ((held = CreateFileA(file.c_str(), GENERIC_READ | (verb == "change" ? GENERIC_WRITE : 0),
                             sharing, nullptr, OPEN_EXISTING, 0, nullptr)) ==
             INVALID_HANDLE_VALUE &&
         verb == "scan" && GetLastError() == ERROR_SHARING_VIOLATION) {
  }
  if (held == INVALID_HANDLE_VALUE || std::puts("held") < 0 || std::fflush(stdout) != 0) return 1;
  const DWORD ms = argv[3] == std::string("-") ? 0 : DWORD(std::atoi(argv[3]));
  if (verb == "change") {
    Sleep(ms / 2);
    std::string text(4096, '\0');
    ReadFile(held, text.data(), DWORD(text.size()), &written, nullptr);
    SetFilePointer(held, LONG(text.find("0.0")), nullptr, FILE_BEGIN);
    if (!WriteFile(held, "0.7", 3, &written, nullptr)) return 1;
  }
  ms == 0 ? void(std::getchar()) : Sleep(verb == "change" ? ms - ms / 2 : ms);
}
