#include "exporter/target_rules.h"

#include <algorithm>
#include <bit>
#include <iterator>

#include "devices/address_input.h"
#include "reports/address_formats.h"

namespace corvane::exporter {

TargetVerdict checkModuleAddress(std::uint32_t ip, const LocalAddress& sending,
                                 const std::vector<std::uint32_t>& own, bool allowAnyTarget) {
    if (!isValidDeviceAddress(ip)) {
        return TargetVerdict::notModuleAddress;
    }
    if (std::find(own.begin(), own.end(), ip) != own.end() || ip == sending.address) {
        return TargetVerdict::ownAddress;
    }
    // Stored form on both sides: the mask applies octet by octet, whatever the byte order.
    const std::uint32_t hostBits = ~sending.mask;
    const bool inSubnet = (ip & sending.mask) == (sending.address & sending.mask);
    // A /31 or /32 has no network or broadcast address of its own.
    if (inSubnet && std::popcount(hostBits) >= 2 &&
        ((ip & hostBits) == 0 || (ip & hostBits) == hostBits)) {
        return TargetVerdict::subnetNetworkOrBroadcast;
    }
    if (!inSubnet && !allowAnyTarget) {
        return TargetVerdict::outsideSubnet;
    }
    return TargetVerdict::accepted;
}

TargetCheck checkTarget(std::string_view text, const LocalAddress& sending,
                        const std::vector<std::uint32_t>& own, bool allowAnyTarget) {
    if (text.empty()) {
        return {TargetVerdict::missing, 0};
    }
    const auto ip = parseIpv4(text);
    if (!ip) {
        return {TargetVerdict::notAnAddress, 0};
    }
    const TargetVerdict verdict = checkModuleAddress(*ip, sending, own, allowAnyTarget);
    return {verdict, verdict == TargetVerdict::accepted ? *ip : 0};
}

std::vector<DeviceHello> discoverableReplies(const std::vector<DeviceHello>& found,
                                             const LocalAddress& sending,
                                             const std::vector<std::uint32_t>& own) {
    std::vector<DeviceHello> kept;
    std::copy_if(found.begin(), found.end(), std::back_inserter(kept),
                 [&](const DeviceHello& hello) {
                     return checkModuleAddress(hello.ipAddress, sending, own, false) ==
                            TargetVerdict::accepted;
                 });
    return kept;
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
        case TargetVerdict::outsideSubnet:
            return quoted +
                   " is outside the subnet of the address the exporter sends from; start the "
                   "exporter with --allow-any-target for modules behind a router";
        case TargetVerdict::subnetNetworkOrBroadcast:
            return quoted +
                   " is the network or broadcast address of the subnet the exporter sends in";
        case TargetVerdict::ownAddress:
            return quoted + " is an address of this computer, not a module's";
    }
    return {};
}

}  // namespace corvane::exporter
