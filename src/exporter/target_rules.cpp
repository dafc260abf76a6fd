#include "exporter/target_rules.h"

#include <algorithm>
#include <bit>
#include <iterator>

#include "devices/address_input.h"
#include "reports/address_formats.h"

namespace corvane::exporter {

TargetVerdict checkModuleAddress(Ipv4Address ip, const LocalAddress& sending,
                                 const std::vector<Ipv4Address>& own, bool allowAnyTarget) {
    if (!isValidDeviceAddress(ip)) {
        return TargetVerdict::notModuleAddress;
    }
    if (std::find(own.begin(), own.end(), ip) != own.end() || ip == sending.address) {
        return TargetVerdict::ownAddress;
    }
    const std::uint32_t mask = sending.mask.hostOrder();
    const std::uint32_t hostBits = ~mask;
    const std::uint32_t bits = ip.hostOrder();
    const bool inSubnet = (bits & mask) == (sending.address.hostOrder() & mask);
    // A /31 or /32 has no network or broadcast address of its own.
    if (inSubnet && std::popcount(hostBits) >= 2 &&
        ((bits & hostBits) == 0 || (bits & hostBits) == hostBits)) {
        return TargetVerdict::subnetNetworkOrBroadcast;
    }
    if (!inSubnet && !allowAnyTarget) {
        return TargetVerdict::outsideSubnet;
    }
    return TargetVerdict::accepted;
}

TargetCheck checkTarget(std::string_view text, const LocalAddress& sending,
                        const std::vector<Ipv4Address>& own, bool allowAnyTarget) {
    if (text.empty()) {
        return {TargetVerdict::missing, {}};
    }
    const auto ip = Ipv4Address::parse(text);
    if (!ip) {
        return {TargetVerdict::notAnAddress, {}};
    }
    const TargetVerdict verdict = checkModuleAddress(*ip, sending, own, allowAnyTarget);
    return {verdict, verdict == TargetVerdict::accepted ? *ip : Ipv4Address()};
}

std::vector<DeviceHello> discoverableReplies(const std::vector<DeviceHello>& found,
                                             const LocalAddress& sending,
                                             const std::vector<Ipv4Address>& own) {
    std::vector<DeviceHello> kept;
    std::copy_if(found.begin(), found.end(), std::back_inserter(kept),
                 [&](const DeviceHello& hello) {
                     return checkModuleAddress(Ipv4Address::fromNetworkOrder(hello.ipAddress),
                                               sending, own, false) == TargetVerdict::accepted;
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
