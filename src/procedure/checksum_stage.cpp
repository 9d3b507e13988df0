#include "procedure/checksum_stage.h"

#include <new>
#include <string>

#include "log/game_checksum.h"
#include "platform/console.h"
#include "platform/file_access.h"
#include "procedure/recording_stage.h"

namespace updater {

void run_checksum_stage() {
  print_line("Start Zelbix, close it and hit enter...");
  pause_console();

  // Both log readers stay open until the run ends.
  mod_tool_log log;
  const auto end_with = [](const std::string& line) {
    print_line(line);
    pause_console();
  };
  // A log that is there but cannot be read is not said to be missing.
  const auto unreadable = [&](const std::string& why) {
    end_with(std::string("Could not read the game checksum from ") + kLogPath + ": " + why + ".");
  };
  if (!log.log_is_readable()) {
    if (!log.problem().empty()) return unreadable(log.problem());
    return end_with(
        "Could not find Logs (logs/Zelbix.log). Make sure it exists and this file is in the same "
        "folder as Zelbix.exe.");
  }

  std::string game_checksum;
  try {
    game_checksum = log.find_game_checksum();
  } catch (const std::bad_alloc&) {
    return unreadable(kNotEnoughMemory);
  }
  if (game_checksum.empty()) {
    if (!log.problem().empty()) return unreadable(log.problem());
    return end_with("Checksum not found. Terminating...");
  }
  print_line_showing("Checksum: ", game_checksum);
  print_line("");

  run_recording_stage(game_checksum);
}

}  // namespace updater
