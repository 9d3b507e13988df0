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
  if (!log.log_is_readable()) {
    // A log that another program holds is there, but cannot be read.
    print_line(log.problem().empty()
                   ? "Could not find Logs (logs/Zelbix.log). Make sure it exists and this file is "
                     "in the same folder as Zelbix.exe."
                   : std::string("Could not read the game checksum from ") + kLogPath + ": " +
                         log.problem() + ".");
    pause_console();
    return;
  }

  std::string game_checksum;
  try {
    game_checksum = log.find_game_checksum();
  } catch (const std::bad_alloc&) {
    print_line(std::string("Could not read the game checksum from ") + kLogPath + ": " +
               kNotEnoughMemory + ".");
    pause_console();
    return;
  }
  if (game_checksum.empty()) {
    print_line("Checksum not found. Terminating...");
    pause_console();
    return;
  }
  print_line_showing("Checksum: ", game_checksum);
  print_line("");

  run_recording_stage(game_checksum);
}

}  // namespace updater
