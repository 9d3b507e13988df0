// version-updater: teaches the mod tool in the current folder a new build of
// the game. It takes no arguments and always exits with status 0.
#include "platform/console.h"
#include "procedure/checksum_stage.h"

int main() {
  updater::prepare_console();
  updater::run_checksum_stage();
  return 0;
}
