// What `corvanectl apply` will send to make the live site match a site file, checked
// as a whole before anything is sent: module by module (matched by MAC, or through a
// replacement), the network settings broadcast where address, mask or gateway differ
// and the IP output dialog's Start or Stop where the output differs; what cannot be
// applied, with the reason; and the refusals that stop the whole plan.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "devices/site_diff.h"
#include "devices/site_snapshot.h"
#include "net/wire_types.h"

namespace corvane {

// The file's module `old` is applied to the module `fresh` found on the segment.
struct Replacement {
    MacAddress old{};
    MacAddress fresh{};
};

struct NotApplied {
    MacAddress mac{};    // the module as the file names it
    std::string what;    // a field, "output", or "module"
    std::string reason;  // for the operator
};

struct ModulePlan {
    MacAddress mac{};                    // the module sent to
    std::optional<MacAddress> replaces;  // the file's module it takes the place of
    Ipv4Address currentIp;               // where it answers now
    std::vector<FieldChange> changes;    // from the live module to the file's
    SiteModule wanted;                   // the file's module, with `mac`
    bool setNetwork = false;             // wanted.ip, mask and gateway
    bool setOutput = false;              // `output` (Start or Stop)
    StreamSettings output{};

    Ipv4Address finalIp() const { return setNetwork ? wanted.ip : currentIp; }
};

struct SitePlan {
    std::vector<ModulePlan> modules;  // those with something to send, in the file's order
    std::vector<NotApplied> notApplied;
    std::vector<std::string> refusals;  // any at all: nothing may be sent
};

// Plans `wanted` onto `live` (a search merged with a status sweep) for a sender at `local`.
SitePlan planSite(const std::vector<SiteModule>& wanted, const std::vector<SiteModule>& live,
                  const std::vector<Replacement>& replacements, const LocalAddress& local);

// Whether a module at `ip` is in the subnet of the local address `local`.
bool inLocalSubnet(Ipv4Address ip, const LocalAddress& local);

// What of the plan for one module a read-back of it (`after`, or none when it was not
// found) does not show, as changes from what it reports to what was wanted; empty
// when every field sent is now as wanted.
std::vector<FieldChange> unverifiedChanges(const ModulePlan& plan,
                                           const std::optional<SiteModule>& after);

}  // namespace corvane
