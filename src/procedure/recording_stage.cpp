#include "procedure/recording_stage.h"

#include <new>

#include "config/user_configuration.h"
#include "config/version_catalogue.h"
#include "platform/console.h"
#include "platform/file_access.h"

namespace updater {
namespace {

void report_not_recorded(const std::string& version, const std::string& problem) {
  const std::string where = std::string(" in ") + kVersionCataloguePath + ": " + problem + ".";
  try {
    print_line("Could not record version " + printable(version) + where);
  } catch (const std::bad_alloc&) {  // too little memory to show the version
    print_line("Could not record the version" + where);
  }
}

}  // namespace

void run_recording_stage(const std::string& game_checksum) {
  const std::string patch_problem = patch_user_configuration();
  if (!patch_problem.empty()) {
    print_line(std::string("Could not update ") + kUserConfigurationPath + ": " + patch_problem +
               ". The settings autoupdate and updateversions were not switched off.");
  }

  version_catalogue catalogue;
  catalogue.open_entry();

  print_line("The Forest Version (e.g.: 0.48):");
  std::string version;
  try {
    version = read_word();
  } catch (const std::bad_alloc&) {
    print_line(std::string("Could not read the version: ") + kNotEnoughMemory + ".");
    pause_console();
    return;
  }

  catalogue.fill_entry(version, game_checksum);
  if (version.find('.') == std::string::npos) {
    print_line("Missing version. Examples: 0.48, 0.49b");
  } else if (const std::string problem = catalogue.save(); problem.empty()) {
    print_line("Done. You can now start Zelbix.");
  } else {
    report_not_recorded(version, problem);
  }
  pause_console();
}

}  // namespace updater
