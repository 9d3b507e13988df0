// Taking turns on Windows: a named mutex whose name comes from the folder's
// identity, its volume serial number and file ID, so that every path to the
// folder (a junction, a mapped drive, a short name) gives the same name.
// Windows releases the mutex when the copy holding it ends, however it ends.
//
// The name lives in the session's own namespace ("Local\"): copies started
// in one logon session share it, and another user logged on beside (fast
// user switching, remote desktop) can neither see it nor take it. A program
// in the same session that takes the name first can only make a copy wait:
// it gives up after ten seconds, the file untouched; a name it took for
// another kind of object, or for a mutex this copy may not wait on, leaves
// the copy editing without a turn, as a program that is not the updater
// edits, and the look before the replace still guards the file.
#define NOMINMAX
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/console.h"
#include "platform/edit_turn.h"
#include "platform/text_windows.h"

namespace updater {
namespace {

// The mutex's name for the folder that holds `path`; empty when the folder
// cannot be opened for its identity.
std::wstring turn_name(const std::string& path) {
  std::wstring folder = long_path(path);
  folder.erase(folder.find_last_of(L'\\') + 1);  // the trailing "\" names the folder itself
  const HANDLE handle = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::wstring();
  wchar_t name[96] = L"";
  FILE_ID_INFO id{};
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
    // A file ID of 128 bits, as ReFS gives.
    unsigned long long high = 0, low = 0;
    static_assert(sizeof id.FileId.Identifier == 16);
    std::memcpy(&low, id.FileId.Identifier, 8);
    std::memcpy(&high, id.FileId.Identifier + 8, 8);
    std::swprintf(name, std::size(name), L"Local\\version-updater-%016llx-%016llx%016llx",
                  id.VolumeSerialNumber, high, low);
  } else if (GetFileInformationByHandle(handle, &information)) {
    std::swprintf(name, std::size(name), L"Local\\version-updater-%016llx-%016llx",
                  static_cast<unsigned long long>(information.dwVolumeSerialNumber),
                  static_cast<unsigned long long>(information.nFileIndexHigh) << 32 |
                      information.nFileIndexLow);
  }
  CloseHandle(handle);
  return name;
}

}  // namespace

edit_turn::edit_turn(const std::string& path) {
  const std::wstring name = turn_name(path);
  if (name.empty()) return;  // edited without a turn
  // Asking for the rights to wait and to let go alone, and then for the first
  // alone: a copy running with other rights (as administrator, say) created
  // the mutex with a list that may grant the rest of the same logon no more
  // than to wait, and CreateMutexW, which asks for all rights, would be
  // refused it.
  HANDLE mutex = CreateMutexExW(nullptr, name.c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
  if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
    mutex = CreateMutexExW(nullptr, name.c_str(), 0, SYNCHRONIZE);
  }
  if (mutex == nullptr) return;
  // An abandoned mutex, whose holder ended without letting go, is ours now.
  DWORD waited = WaitForSingleObject(mutex, 1000);
  if (waited == WAIT_TIMEOUT) {
    print_line("Waiting for another copy of the updater ...");
    waited = WaitForSingleObject(mutex, 9000);
  }
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    if (waited == WAIT_TIMEOUT) problem_ = kAnotherCopyEditing;
    CloseHandle(mutex);
    return;
  }
  held_ = reinterpret_cast<std::intptr_t>(mutex);
}

edit_turn::~edit_turn() {
  if (held_ == -1) return;
  const HANDLE mutex = reinterpret_cast<HANDLE>(held_);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

}  // namespace updater
