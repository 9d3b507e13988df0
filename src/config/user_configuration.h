// The mod tool's user configuration: switching its update settings off.
#pragma once

#include <string>

namespace updater {

inline constexpr char kUserConfigurationPath[] = "configs/UserConfiguration.xml";

// Sets the text of the first `autoupdate` and the first `updateversions`
// under the top-level `UserConfiguration` element to "false" (the last child
// of each, when that child holds text) and writes the file back, changed or
// not. A missing file is created holding the declaration alone. When
// another program changes the file meanwhile, the patch is made anew on what
// it holds then, a few times at most. Returns an empty string when the file
// was written; otherwise why, and the file is left exactly as it was.
std::string patch_user_configuration(const std::string& path = kUserConfigurationPath);

}  // namespace updater
