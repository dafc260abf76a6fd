#include "devices/operator_site.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/settings_keys.h"
#include "net/local_addresses.h"

namespace corvane {
namespace {

constexpr char kProgramName[] = "corvane-control";

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// absent for ENOENT; unreadable for any other failure, a folder or a device.
SettingsState probe(const std::string& path, std::string& reason) {
    // O_NONBLOCK: a FIFO in the file's place must not hang the probe.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            return SettingsState::absent;
        }
        reason = std::strerror(errno);
        return SettingsState::unreadable;
    }
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);  // opened only to probe; nothing was written, so its result says nothing
    if (!regular) {
        reason = "not a regular file";
        return SettingsState::unreadable;
    }
    return SettingsState::readable;
}

std::string addressList(const std::vector<LocalAddress>& addresses) {
    std::string text;
    for (const LocalAddress& local : addresses) {
        text += (text.empty() ? "" : ", ") + local.address.text();
    }
    return text;
}

}  // namespace

SettingsLocation frontEndSettingsLocation(const std::string& frontEndExecutable,
                                          const std::optional<std::string>& settingsOverride) {
    if (settingsOverride) {
        return SettingsLocation{*settingsOverride, {}};
    }
    return settingsLocation(folderOf(frontEndExecutable) + "/" + kProgramName);
}

SettingsAccess checkSettingsAccess(const SettingsLocation& location) {
    SettingsAccess access;
    access.path = location.path;
    access.state = probe(location.path, access.reason);
    if (access.state == SettingsState::absent && !location.original.empty()) {
        access.path = location.original;
        access.state = probe(location.original, access.reason);
    }
    return access;
}

Ipv4Address storedLocalAddress(const SettingsFile& settings) {
    return Ipv4Address::fromSettingsInteger(
        settings.readInt(settings_keys::kConfig, settings_keys::kLocalIp, 0));
}

SourceChoice chooseSourceAddress(const std::vector<LocalAddress>& usable,
                                 std::optional<Ipv4Address> requested, Ipv4Address stored,
                                 UnchosenSource unchosen) {
    SourceChoice choice;
    choice.candidates = usable;
    choice.requested = requested.value_or(Ipv4Address());
    const auto find = [&usable](Ipv4Address address) {
        return std::find_if(usable.begin(), usable.end(), [address](const LocalAddress& local) {
            return local.address == address;
        });
    };
    const auto pick = [&choice](const LocalAddress& local, SourceChoiceReason reason) {
        choice.status = SourceChoiceStatus::chosen;
        choice.reason = reason;
        choice.address = local;
        return choice;
    };
    if (requested) {
        const auto found = find(*requested);
        if (found == usable.end()) {
            choice.status = SourceChoiceStatus::requestedNotLocal;
            return choice;
        }
        return pick(*found, SourceChoiceReason::requested);
    }
    if (!stored.isUnspecified()) {
        const auto found = find(stored);
        if (found != usable.end()) {
            return pick(*found, SourceChoiceReason::stored);
        }
        choice.staleStored = stored;
    }
    if (usable.size() == 1) {
        return pick(usable.front(), SourceChoiceReason::onlyUsable);
    }
    if (!usable.empty() && unchosen == UnchosenSource::takeFirst) {
        return pick(usable.front(), SourceChoiceReason::firstUsable);
    }
    choice.status =
        usable.empty() ? SourceChoiceStatus::noneUsable : SourceChoiceStatus::severalUnchosen;
    return choice;
}

SourceChoice chooseSourceAddress(std::optional<Ipv4Address> requested, Ipv4Address stored) {
    std::vector<LocalAddress> usable;
    listLocalAddresses(usable);  // an empty list is the answer when the query fails
    return chooseSourceAddress(usable, requested, stored);
}

std::string sourceChoiceProblem(const SourceChoice& choice) {
    const std::string candidates = addressList(choice.candidates);
    switch (choice.status) {
        case SourceChoiceStatus::chosen:
            return {};
        case SourceChoiceStatus::noneUsable:
            return "this computer has no usable IPv4 address to send from";
        case SourceChoiceStatus::requestedNotLocal:
            return choice.requested.text() + " is not one of this computer's usable addresses (" +
                   candidates + ")";
        case SourceChoiceStatus::severalUnchosen:
            break;
    }
    std::string text =
        "several local addresses could send (" + candidates + "); choose one with --from ADDRESS";
    if (!choice.staleStored.isUnspecified()) {
        text += "; the stored choice " + choice.staleStored.text() + " is not one of them";
    }
    return text;
}

SourceChoice chooseFrontEndSource(std::optional<Ipv4Address> requested,
                                  const SettingsLocation& location, std::string& settingsProblem) {
    settingsProblem.clear();
    Ipv4Address stored;
    if (!requested) {
        const SettingsAccess access = checkSettingsAccess(location);
        if (access.state == SettingsState::unreadable) {
            settingsProblem = "cannot read the settings file " + access.path +
                              " for the chosen local address: " + access.reason +
                              " (or give --from ADDRESS)";
            return {};
        }
        stored = storedLocalAddress(SettingsFile(location));
    }
    return chooseSourceAddress(requested, stored);
}

}  // namespace corvane
