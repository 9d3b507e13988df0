// The second half of a run: switch the mod tool's updates off, ask for the
// game's version number and record it with the checksum.
#pragma once

#include <string>

namespace updater {

// Runs once the checksum has been shown; ends with a pause.
void run_recording_stage(const std::string& game_checksum);

}  // namespace updater
