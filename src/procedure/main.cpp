// version-updater: teaches the mod tool in the current folder a new build of
// the game. It takes no arguments and always exits with status 0.
#include <new>

#include "platform/console.h"
#include "procedure/checksum_stage.h"

int main() {
  updater::prepare_console();
  try {
    updater::run_checksum_stage();
  } catch (const std::bad_alloc&) {  // where no step could say it itself
    updater::print_line("Could not go on: not enough memory.");
    updater::pause_console();
  }
  return 0;
}
