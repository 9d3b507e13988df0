#include "config/user_configuration.h"

#include <new>

#include "config/config_document.h"
#include "platform/edit_turn.h"

namespace updater {

std::string patch_user_configuration(const std::string& path) try {
  const edit_turn turn(path);
  if (!turn.problem().empty()) return turn.problem();
  std::string problem;
  for (int tries = 0; tries < kEditTries && (tries == 0 || problem == kChangedMeanwhile); ++tries) {
    pugi::xml_document document;
    const load_result loaded = load_document(document, path);
    if (!loaded.may_write_back()) return loaded.problem;

    const pugi::xml_node settings = document.child("UserConfiguration");
    for (const char* setting : {"autoupdate", "updateversions"}) {
      // Only text takes the value; an element as last child or no child at
      // all leaves the setting as it is.
      pugi::xml_node value = settings.child(setting).last_child();
      const bool text = value.type() == pugi::node_pcdata || value.type() == pugi::node_cdata;
      if (text && !value.set_value("false")) return kNotEnoughMemory;
      // Text right before it (split by a comment or a CDATA section) is part
      // of the same value: it goes, or "true" would become "trfalse".
      while (text && (value.previous_sibling().type() == pugi::node_pcdata ||
                      value.previous_sibling().type() == pugi::node_cdata)) {
        value.parent().remove_child(value.previous_sibling());
      }
    }
    problem = save_document(document, path, loaded);
  }
  return problem;
} catch (const std::bad_alloc&) {
  return kNotEnoughMemory;
}

}  // namespace updater
