// The benchmark's yardstick: the updater's two edits done with pugixml alone,
// in the mod tool folder it runs in. Loads the settings, switches both off
// and saves them; loads the catalogue, appends the entry and saves it; with
// pugixml's defaults, no checks and no flush to disk.
#include <pugixml.hpp>

int main() {
  const char* const settings_path = "configs/UserConfiguration.xml";
  const char* const catalogue_path = "configs/games/TheForest/Versions.xml";
  pugi::xml_document settings;
  settings.load_file(settings_path);
  for (const char* name : {"autoupdate", "updateversions"}) {
    settings.child("UserConfiguration").child(name).last_child().set_value("false");
  }
  settings.save_file(settings_path);

  pugi::xml_document catalogue;
  catalogue.load_file(catalogue_path);
  pugi::xml_node entry = catalogue.child("versions").append_child("version");
  entry.append_attribute("id").set_value("0.48");
  entry.append_child("checksum")
      .append_child(pugi::node_pcdata)
      .set_value("9b1e44c07a3d5f2e8c61d0a7b94f3e21");
  return catalogue.save_file(catalogue_path) ? 0 : 1;
}
