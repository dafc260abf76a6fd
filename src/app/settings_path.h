// Where the settings file lives: beside the executable, with the executable's base name
// and the extension ".ini"; for an installed copy whose folder the user cannot write,
// in the user's configuration folder instead.
#pragma once

#include <functional>
#include <map>
#include <string>

namespace corvane {

// The running executable's real path (symbolic links resolved, any length); empty when
// the system does not say.
std::string executablePath();

// The settings file name for an executable path: ".ini" replaces the extension of the
// file name, or is appended when there is none ("tool.exe" and "tool" give "tool.ini").
std::string settingsFileNameFor(const std::string& executablePath);

// The settings path for an executable, with the file system and the environment passed
// in. Beside the executable when `isFolderWritable` says so for its folder, otherwise
// $XDG_CONFIG_HOME/corvane-control/<name>.ini ($HOME/.config when XDG_CONFIG_HOME is not
// an absolute path). Without a usable HOME either, beside the executable: reads still
// work there and writes fail quietly.
std::string settingsPathFor(const std::string& executablePath,
                            const std::function<bool(const std::string& folder)>& isFolderWritable,
                            const std::map<std::string, std::string>& environment);

// True when the effective user may create files in the folder (for root that is every
// folder not on a read-only mount, which is what root can indeed do).
bool isFolderWritable(const std::string& folder);

// The settings path of this process.
std::string settingsPath();

}  // namespace corvane
