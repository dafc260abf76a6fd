#include "exporter/target_rules.h"

#include <algorithm>

#include "devices/address_input.h"
#include "reports/address_formats.h"

namespace corvane::exporter {

TargetCheck checkTarget(std::string_view text, const std::vector<LocalAddress>& usable,
                        bool allowAnyTarget) {
    if (text.empty()) {
        return {TargetVerdict::missing, 0};
    }
    const auto ip = parseIpv4(text);
    if (!ip) {
        return {TargetVerdict::notAnAddress, 0};
    }
    if (!isValidDeviceAddress(*ip)) {
        return {TargetVerdict::notModuleAddress, 0};
    }
    // Stored form on both sides: the mask applies octet by octet, whatever the byte order.
    const bool inSubnet = std::any_of(usable.begin(), usable.end(), [&](const LocalAddress& local) {
        return (*ip & local.mask) == (local.address & local.mask);
    });
    if (!inSubnet && !allowAnyTarget) {
        return {TargetVerdict::outsideSubnets, 0};
    }
    return {TargetVerdict::accepted, *ip};
}

std::string targetProblem(const TargetCheck& check, std::string_view text) {
    const std::string quoted = "'" + std::string(text) + "'";
    switch (check.verdict) {
        case TargetVerdict::accepted:
            return {};
        case TargetVerdict::missing:
            return "the target parameter is missing: /probe?target=A.B.C.D";
        case TargetVerdict::notAnAddress:
            return quoted + " is not an IPv4 address (four numbers 0-255 joined by dots)";
        case TargetVerdict::notModuleAddress:
            return quoted +
                   " is not an address a module may have (not 0.x, 127.x, 224 or above, nor "
                   "ending in .0 or .255)";
        case TargetVerdict::outsideSubnets:
            return quoted +
                   " is outside the subnets of this computer's addresses; start the exporter "
                   "with --allow-any-target for modules behind a router";
    }
    return {};
}

}  // namespace corvane::exporter
