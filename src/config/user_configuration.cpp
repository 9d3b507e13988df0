#include "config/user_configuration.h"

#include "config/config_document.h"

namespace updater {

std::string patch_user_configuration(const std::string& path) {
  pugi::xml_document document;
  const load_result loaded = load_document(document, path);
  if (!loaded.may_write_back()) return loaded.problem;

  const pugi::xml_node settings = document.child("UserConfiguration");
  for (const char* setting : {"autoupdate", "updateversions"}) {
    // Only a node that holds a value takes it; an element as last child or
    // no child at all leaves the setting as it is.
    settings.child(setting).last_child().set_value("false");
  }
  return save_document(document, path);
}

}  // namespace updater
