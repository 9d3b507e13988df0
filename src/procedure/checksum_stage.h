// The first half of a run: wait for the user to run the mod tool, then find
// and show the game checksum.
#pragma once

namespace updater {

// Runs the whole procedure: the checksum stage, then, when a checksum was
// found, the recording stage. Every path ends with a pause.
void run_checksum_stage();

}  // namespace updater
