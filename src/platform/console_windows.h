// What the other Windows sides of the platform ask of the console.
#pragma once

namespace updater {

// Ends the program at once as Ctrl+C does (exit status STATUS_CONTROL_C_EXIT),
// after putting back the console modes the program found.
[[noreturn]] void end_as_interrupted();

}  // namespace updater
