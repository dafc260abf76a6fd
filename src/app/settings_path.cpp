#include "app/settings_path.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace corvane {

namespace {

constexpr std::string_view kConfigFolderName = "corvane-control";
constexpr std::string_view kDefaultBaseName = "corvane-control";
constexpr std::string_view kDeletedSuffix = " (deleted)";
constexpr std::size_t kLinkBufferStart = 256;
constexpr std::size_t kLinkBufferMax = 1 << 20;

bool isAbsolute(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

std::string environmentValue(const std::map<std::string, std::string>& environment,
                             const std::string& name) {
    const auto it = environment.find(name);
    return it == environment.end() ? std::string() : it->second;
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The user's configuration folder, or empty when the environment gives none.
std::string configHome(const std::map<std::string, std::string>& environment) {
    const std::string xdg = environmentValue(environment, "XDG_CONFIG_HOME");
    if (isAbsolute(xdg)) {
        return withoutTrailingSlashes(xdg);
    }
    const std::string home = environmentValue(environment, "HOME");
    if (isAbsolute(home)) {
        return withoutTrailingSlashes(home) + (home == "/" ? ".config" : "/.config");
    }
    return {};
}

std::string homeFromPasswordDatabase() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return {};
    }
    return found->pw_dir;
}

}  // namespace

std::string executablePath() {
    // readlink does not say how long the target is, so grow until it fits.
    for (std::size_t size = kLinkBufferStart; size <= kLinkBufferMax; size *= 2) {
        std::string buffer(size, '\0');
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            // An executable replaced while running (a package upgrade) is reported with
            // this suffix; the settings belong to the path it was started as.
            if (buffer.ends_with(kDeletedSuffix) && ::access(buffer.c_str(), F_OK) != 0) {
                buffer.resize(buffer.size() - kDeletedSuffix.size());
            }
            return buffer;
        }
    }
    return {};
}

std::string settingsFileNameFor(const std::string& executablePath) {
    const std::size_t slash = executablePath.rfind('/');
    std::string name =
        slash == std::string::npos ? executablePath : executablePath.substr(slash + 1);
    // Dots that begin a hidden name (".tool") are not an extension.
    const std::size_t firstNonDot = name.find_first_not_of('.');
    const std::size_t dot = name.rfind('.');
    if (firstNonDot != std::string::npos && dot != std::string::npos && dot > firstNonDot) {
        name.resize(dot);
    }
    if (name.empty()) {
        name = kDefaultBaseName;
    }
    return name + ".ini";
}

SettingsLocation settingsLocationFor(
    const std::string& executablePath,
    const std::function<bool(const std::string& folder)>& isFolderWritable,
    const std::map<std::string, std::string>& environment) {
    const std::string fileName = settingsFileNameFor(executablePath);
    const std::size_t slash = executablePath.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : executablePath.substr(0, slash);
    const std::string beside = (folder == "/" ? "/" : folder + "/") + fileName;
    if (!executablePath.empty() && isFolderWritable(folder)) {
        return {beside, {}};
    }
    const std::string config = configHome(environment);
    if (config.empty()) {
        return {beside, {}};
    }
    // An executable we cannot name has no file beside it to start from.
    return {config + "/" + std::string(kConfigFolderName) + "/" + fileName,
            executablePath.empty() ? std::string() : beside};
}

bool isFolderWritable(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    // AT_EACCESS: the effective ids decide, as they do for the actual file creation.
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

SettingsLocation settingsLocation(const std::string& executable) {
    std::map<std::string, std::string> environment;
    for (const char* name : {"XDG_CONFIG_HOME", "HOME"}) {
        if (const char* value = std::getenv(name)) {
            environment[name] = value;
        }
    }
    if (!isAbsolute(environmentValue(environment, "HOME"))) {
        environment["HOME"] = homeFromPasswordDatabase();
    }
    return settingsLocationFor(executable, isFolderWritable, environment);
}

SettingsLocation settingsLocation() {
    return settingsLocation(executablePath());
}

}  // namespace corvane
