// A mod tool folder as the program finds it, and the lines it shows there.
// "{pause}" marks where the program waits for a key.
#pragma once

#include <string>

#include "program_runner.h"

namespace test_support {

constexpr char kLogPath[] = "logs/Zelbix.log";
constexpr char kConfigPath[] = "configs/UserConfiguration.xml";
constexpr char kCataloguePath[] = "configs/games/TheForest/Versions.xml";

inline const std::string kLog =
    "[12:00:00] Zelbix 2.1 starting\r\n[12:00:01] Game checksum: 3f2a9c\r\n[12:00:02] Ready\r\n";
inline const std::string kConfig =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<UserConfiguration>\r\n"
    "  <autoupdate>true</autoupdate>\r\n  <updateversions>true</updateversions>\r\n"
    "  <language>en</language>\r\n</UserConfiguration>\r\n";
inline const std::string kConfigPatched =
    "<?xml version=\"1.0\"?>\n<UserConfiguration>\n\t<autoupdate>false</autoupdate>\n"
    "\t<updateversions>false</updateversions>\n\t<language>en</language>\n</UserConfiguration>\n";

// A catalogue of `entries` versions, in the layout the program writes.
inline std::string catalogue(std::size_t entries) {
  std::string text = "<?xml version=\"1.0\"?>\n<versions>\n";
  for (std::size_t i = 0; i < entries; ++i) {
    text += "\t<version id=\"0." + std::to_string(i) + "\">\n\t\t<checksum>" +
            std::to_string(i * 2654435761u) + "</checksum>\n\t</version>\n";
  }
  return text + "</versions>\n";
}

// `before` with the entry the program adds at its end.
inline std::string recorded(std::string before, const std::string& id = "0.48") {
  const std::string entry =
      "\t<version id=\"" + id + "\">\n\t\t<checksum>3f2a9c</checksum>\n\t</version>\n";
  return before.insert(before.size() - std::string("</versions>\n").size(), entry);
}

inline const std::string kStart = "Start Zelbix, close it and hit enter...\n{pause}";
inline const std::string kChecksum = "Checksum: 3f2a9c\n\n";
inline const std::string kPrompt = "The Forest Version (e.g.: 0.48):\n";
inline const std::string kAsk = kChecksum + kPrompt;
inline const std::string kDone = "Done. You can now start Zelbix.\n{pause}";
inline const std::string kMissing = "Missing version. Examples: 0.48, 0.49b\n{pause}";
inline const std::string kNoLog =
    "Could not find Logs (logs/Zelbix.log). Make sure it exists and this file is in the same "
    "folder as Zelbix.exe.\n{pause}";
inline const std::string kNoChecksum = "Checksum not found. Terminating...\n{pause}";

inline std::string settings_not_updated(const std::string& reason) {
  return "Could not update configs/UserConfiguration.xml: " + reason +
         ". The settings autoupdate and updateversions were not switched off.\n";
}
inline std::string not_recorded(const std::string& reason) {
  return "Could not record version 0.48 in configs/games/TheForest/Versions.xml: " + reason +
         ".\n{pause}";
}

// The console as the running program shows it: with redirected input the
// pauses show nothing.
inline std::string on_console(std::string text) {
  const std::string pause;
  for (std::size_t at; (at = text.find("{pause}")) != std::string::npos;) {
    text.replace(at, 7, pause);
  }
  return text;
}

}  // namespace test_support
