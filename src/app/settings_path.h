// Where the settings file lives: beside the executable, with the executable's base name
// and the extension ".ini"; for an installed copy whose folder the user cannot write, a
// per-user copy of that file in the user's configuration folder, made at the first write.
#pragma once

#include <functional>
#include <map>
#include <string>

namespace corvane {

// Where the settings are read and written.
struct SettingsLocation {
    std::string path;  // the file that is read and written
    // For an executable in a folder the user cannot write: the file beside it. It is read
    // while `path` does not exist, copied whole to `path` at the first write, and never
    // written. Empty when the settings live beside the executable.
    std::string original;

    friend bool operator==(const SettingsLocation&, const SettingsLocation&) = default;
};

// The running executable's real path (symbolic links resolved, any length); empty when
// the system does not say.
std::string executablePath();

// The settings file name for an executable path: ".ini" replaces the extension of the
// file name, or is appended when there is none ("tool.exe" and "tool" give "tool.ini").
std::string settingsFileNameFor(const std::string& executablePath);

// The settings location for an executable, with the file system and the environment
// passed in. Beside the executable when `isFolderWritable` says so for its folder;
// otherwise $XDG_CONFIG_HOME/corvane-control/<name>.ini ($HOME/.config when
// XDG_CONFIG_HOME is not an absolute path), with the file beside the executable as its
// original. Without a usable HOME either, beside the executable: reads still work there
// and writes fail quietly.
SettingsLocation settingsLocationFor(
    const std::string& executablePath,
    const std::function<bool(const std::string& folder)>& isFolderWritable,
    const std::map<std::string, std::string>& environment);

// True when the effective user may create files in the folder (for root that is every
// folder not on a read-only mount, which is what root can indeed do).
bool isFolderWritable(const std::string& folder);

// The settings location of an executable for this process's user, from the real file
// system and environment. A program that reads the settings of the corvane-control in
// its own folder passes that path: it gets the file beside it, or its per-user copy.
SettingsLocation settingsLocation(const std::string& executable);

// The settings location of this process.
SettingsLocation settingsLocation();

}  // namespace corvane
