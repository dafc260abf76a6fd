#include "devices/site_plan.h"

#include <algorithm>
#include <map>

#include "devices/found_modules.h"
#include "devices/output_settings.h"
#include "reports/address_formats.h"

namespace corvane {
namespace {

bool isNetworkField(const std::string& field) {
    return field == "ip" || field == "mask" || field == "gateway";
}

bool isSingleOutputField(const std::string& field) {
    return field == "protocol" || field == "destination" || field == "no_stuffing" ||
           field == "running";
}

const SiteModule* findModule(const std::vector<SiteModule>& modules, const MacAddress& mac) {
    const auto found = std::find_if(modules.begin(), modules.end(),
                                    [&](const SiteModule& module) { return module.mac == mac; });
    return found != modules.end() ? &*found : nullptr;
}

// Why an output field that differs is not sent, or empty when Start or Stop sets it.
std::string outputReason(const SiteModule& live, const SiteModule& wanted,
                         const std::string& field) {
    if (field == "answered") {
        return wanted.answered ? "the module did not answer its status read, so its output "
                                 "is not known"
                               : "the file holds no output for it (it did not answer when the "
                                 "file was written)";
    }
    if (wanted.output.entries) {
        return "the file holds the entry-list form, and the settings request has only the "
               "single form";
    }
    if (live.output.entries) {
        return "the module reports the entry-list form, and the settings request has only the "
               "single form";
    }
    return {};
}

// Fills in what to send for one module whose `changes` are known.
void planChanges(ModulePlan& plan, const SiteModule& live, const MacAddress& fileMac,
                 std::vector<NotApplied>& notApplied) {
    const SiteOutput& output = plan.wanted.output;
    for (const FieldChange& change : plan.changes) {
        if (isNetworkField(change.field)) {
            plan.setNetwork = true;
            continue;
        }
        const std::string reason = outputReason(live, plan.wanted, change.field);
        if (!reason.empty()) {
            notApplied.push_back({fileMac, change.field, reason});
        } else if (isSingleOutputField(change.field)) {
            plan.setOutput = true;
        }
    }
    if (plan.setOutput) {
        plan.output = output.running
                          ? outputStartSettings(output.protocol, output.destinationIp,
                                                output.destinationPort, output.noStuffing)
                          : outputStopSettings();
    }
}

// The replacement for the file's module `mac`, if any.
std::optional<MacAddress> replacementOf(const std::vector<Replacement>& replacements,
                                        const MacAddress& mac) {
    for (const Replacement& replacement : replacements) {
        if (replacement.old == mac) {
            return replacement.fresh;
        }
    }
    return std::nullopt;
}

void checkReplacements(const std::vector<SiteModule>& wanted, const std::vector<SiteModule>& live,
                       const std::vector<Replacement>& replacements,
                       std::vector<std::string>& refusals) {
    std::map<MacAddress, int> olds, freshes;
    for (const Replacement& r : replacements) {
        const std::string old = formatMacAddress(r.old), fresh = formatMacAddress(r.fresh);
        if (findModule(wanted, r.old) == nullptr) {
            refusals.push_back("--replace " + old + "=" + fresh + ": " + old +
                               " is not in the file");
        }
        if (findModule(wanted, r.fresh) != nullptr) {
            refusals.push_back("--replace " + old + "=" + fresh + ": " + fresh +
                               " has an entry of its own in the file");
        }
        if (findModule(live, r.fresh) == nullptr) {
            refusals.push_back("--replace " + old + "=" + fresh + ": the search did not find " +
                               fresh);
        }
        const bool oldTwice = ++olds[r.old] == 2;
        if (oldTwice || ++freshes[r.fresh] == 2) {
            refusals.push_back("--replace " + old + "=" + fresh +
                               ": a module is named in two replacements");
        }
    }
}

// Two modules that would share an address, where the plan gives one of them that
// address: the rule that marks a search's duplicates, over the addresses after the plan.
void checkSharedAddresses(const SitePlan& plan, const std::vector<SiteModule>& live,
                          std::vector<std::string>& refusals) {
    std::vector<DeviceHello> after;
    std::map<MacAddress, bool> moved;
    for (const SiteModule& module : live) {
        DeviceHello hello{};
        hello.mac = module.mac;
        hello.ipAddress = module.ip.networkOrder();
        for (const ModulePlan& planned : plan.modules) {
            if (planned.mac == module.mac && planned.setNetwork) {
                hello.ipAddress = planned.wanted.ip.networkOrder();
                moved[module.mac] = true;
            }
        }
        after.push_back(hello);
    }
    // Keyed by the record's network-order number, the order these refusals have always
    // been listed in.
    std::map<std::uint32_t, std::vector<MacAddress>> sharing;
    for (const FoundModule& module : sortFoundModules(after)) {
        if (module.duplicateAddress) {
            const std::uint32_t ip = module.hello.ipAddress;  // a packed field: copied, not bound
            sharing[ip].push_back(module.hello.mac);
        }
    }
    for (const auto& [ip, macs] : sharing) {
        if (std::none_of(macs.begin(), macs.end(), [&](const MacAddress& m) { return moved[m]; })) {
            continue;  // they share it already; the plan does not add to it
        }
        std::string names;
        for (const MacAddress& mac : macs) {
            names += (names.empty() ? "" : " and ") + formatMacAddress(mac);
        }
        refusals.push_back(names + " would all have the address " +
                           Ipv4Address::fromNetworkOrder(ip).text());
    }
}

void checkSubnets(const SitePlan& plan, const LocalAddress& local,
                  std::vector<std::string>& refusals) {
    for (const ModulePlan& planned : plan.modules) {
        if (planned.setNetwork && !inLocalSubnet(planned.wanted.ip, local)) {
            refusals.push_back(formatMacAddress(planned.mac) + " would get " +
                               planned.wanted.ip.text() +
                               ", outside the subnet of the local address " + local.address.text() +
                               "/" + local.mask.text() + ", where nothing could reach it");
        }
    }
}

}  // namespace

bool inLocalSubnet(Ipv4Address ip, const LocalAddress& local) {
    const std::uint32_t mask = local.mask.hostOrder();
    return (ip.hostOrder() & mask) == (local.address.hostOrder() & mask);
}

SitePlan planSite(const std::vector<SiteModule>& wanted, const std::vector<SiteModule>& live,
                  const std::vector<Replacement>& replacements, const LocalAddress& local) {
    SitePlan plan;
    checkReplacements(wanted, live, replacements, plan.refusals);
    for (const SiteModule& module : wanted) {
        const std::optional<MacAddress> fresh = replacementOf(replacements, module.mac);
        const SiteModule* current = findModule(live, fresh.value_or(module.mac));
        if (current == nullptr) {
            if (!fresh) {  // a missing replacement is refused above
                plan.notApplied.push_back({module.mac, "module", "the search did not find it"});
            }
            continue;
        }
        ModulePlan planned;
        planned.mac = current->mac;
        planned.replaces = fresh ? std::optional(module.mac) : std::nullopt;
        planned.currentIp = current->ip;
        planned.wanted = module;
        planned.wanted.mac = current->mac;
        planned.changes = diffModule(*current, planned.wanted);
        planChanges(planned, *current, module.mac, plan.notApplied);
        if (planned.setNetwork || planned.setOutput || planned.replaces) {
            plan.modules.push_back(std::move(planned));
        }
    }
    checkSharedAddresses(plan, live, plan.refusals);
    checkSubnets(plan, local, plan.refusals);
    return plan;
}

std::vector<FieldChange> unverifiedChanges(const ModulePlan& plan,
                                           const std::optional<SiteModule>& after) {
    std::vector<FieldChange> missing;
    if (!after) {
        missing.push_back({"module", "not found", "found"});
        return missing;
    }
    for (const FieldChange& change : diffModule(*after, plan.wanted)) {
        const bool sent = plan.setNetwork && isNetworkField(change.field);
        const bool started = plan.setOutput && plan.wanted.output.running;
        const bool output =
            plan.setOutput && (change.field == "running" || change.field == "answered" ||
                               (started && isSingleOutputField(change.field)));
        if (sent || output) {
            missing.push_back(change);
        }
    }
    return missing;
}

}  // namespace corvane
