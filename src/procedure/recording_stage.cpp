#include "procedure/recording_stage.h"

#include "config/user_configuration.h"
#include "config/version_catalogue.h"
#include "platform/console.h"

namespace updater {

void run_recording_stage(const std::string& game_checksum) {
  const std::string patch_problem = patch_user_configuration();
  if (!patch_problem.empty()) {
    print_line(std::string("Could not update ") + kUserConfigurationPath + ": " + patch_problem +
               ". The settings autoupdate and updateversions were not switched off.");
  }

  version_catalogue catalogue;
  catalogue.open_entry();

  print_line("The Forest Version (e.g.: 0.48):");
  const std::string version = read_word();

  catalogue.fill_entry(version, game_checksum);
  if (version.find('.') == std::string::npos) {
    print_line("Missing version. Examples: 0.48, 0.49b");
  } else if (const std::string problem = catalogue.save(); problem.empty()) {
    print_line("Done. You can now start Zelbix.");
  } else {
    print_line("Could not record version " + printable(version) + " in " + kVersionCataloguePath +
               ": " + problem + ".");
  }
  pause_console();
}

}  // namespace updater
