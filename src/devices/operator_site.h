// What a front end other than the window (corvanectl, the exporter) finds before it talks
// to a module, the same way in each: the operator's settings file, read and never written,
// the device list in it, and the local address to send from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "app/settings_path.h"
#include "net/wire_types.h"

namespace corvane {

// The settings file a front end reads: `settingsOverride` when given (--settings FILE),
// otherwise the file that a corvane-control in the front end's own folder would use:
// beside it, or its per-user copy.
SettingsLocation frontEndSettingsLocation(const std::string& frontEndExecutable,
                                          const std::optional<std::string>& settingsOverride);

enum class SettingsState {
    readable,    // `path` is the file the reads come from
    absent,      // no file yet: every key takes its default
    unreadable,  // the file is there but cannot be read; `reason` says why
};

struct SettingsAccess {
    SettingsState state = SettingsState::absent;
    std::string path;    // the file that is (or would be) read
    std::string reason;  // the system's words, when unreadable
};

// Which file the reads of a SettingsFile at `location` come from (the per-user file, or
// the original beside the executable while that does not exist) and whether it can be
// read. A SettingsFile that cannot read gives defaults without a word; a front end
// that must not act on defaults taken for the operator's choices asks here first.
SettingsAccess checkSettingsAccess(const SettingsLocation& location);

// "Config"/"LocalIP": the local address last chosen in the window; unspecified when none.
Ipv4Address storedLocalAddress(const SettingsFile& settings);

enum class SourceChoiceStatus {
    chosen,
    requestedNotLocal,  // the requested address is not one of the usable ones
    severalUnchosen,    // several usable addresses, none requested or stored
    noneUsable,         // this computer has no usable IPv4 address
};

enum class SourceChoiceReason { requested, stored, onlyUsable, firstUsable };

// Several usable addresses and none requested or stored: the command line and the
// exporter refuse to guess; the window takes the first, as it always has (and stores
// it, so that the other front ends then follow the window's choice).
enum class UnchosenSource { refuse, takeFirst };

struct SourceChoice {
    SourceChoiceStatus status = SourceChoiceStatus::noneUsable;
    SourceChoiceReason reason = SourceChoiceReason::requested;  // when chosen
    LocalAddress address{};                                     // when chosen
    Ipv4Address requested;  // the requested address, unspecified when none was
    // A stored address that is not one of the usable ones (another computer's, or an
    // adapter since removed), so it was passed over; unspecified otherwise.
    Ipv4Address staleStored;
    std::vector<LocalAddress> candidates;  // every usable address, in dotted order

    bool chosen() const { return status == SourceChoiceStatus::chosen; }
};

// The address to send from: `requested` when given (it must be one of `usable`), else
// `stored` when it is one of them, else the only usable address (or, with
// `takeFirst`, the first of several).
SourceChoice chooseSourceAddress(const std::vector<LocalAddress>& usable,
                                 std::optional<Ipv4Address> requested, Ipv4Address stored,
                                 UnchosenSource unchosen = UnchosenSource::refuse);

// The same over this computer's addresses (listLocalAddresses).
SourceChoice chooseSourceAddress(std::optional<Ipv4Address> requested, Ipv4Address stored);

// A front end's whole choice: `requested` (--from) when given; otherwise the address
// stored in the settings at `location`, which must then be readable, else the only
// usable one. When the settings file exists but cannot be read, nothing is chosen and
// `settingsProblem` says why, for the operator.
SourceChoice chooseFrontEndSource(std::optional<Ipv4Address> requested,
                                  const SettingsLocation& location, std::string& settingsProblem);

// Why no address was chosen, in one or two lines for the operator, listing the usable
// addresses; empty when one was chosen.
std::string sourceChoiceProblem(const SourceChoice& choice);

}  // namespace corvane
