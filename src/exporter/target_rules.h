// Which addresses /probe may send a status read to, and which search replies the
// exporter's discovery lists. The exporter sends datagrams on a real network for whoever
// can reach its port, so a target must be an address a module may have, inside the
// subnet of the address it sends from, neither that subnet's network nor its broadcast
// address, nor one of this computer's own addresses; unless the operator allowed any
// target (a routed set-up), which lifts only the subnet rule. A refused target gets
// nothing sent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/wire_types.h"

namespace corvane::exporter {

enum class TargetVerdict {
    accepted,
    missing,                   // no target parameter at all
    notAnAddress,              // not four decimal octets
    notModuleAddress,          // 0.x, 127.x, 224 and above, or ending in .0 or .255
    outsideSubnet,             // not in the subnet of the sending address
    subnetNetworkOrBroadcast,  // the sending subnet's own network or broadcast address
    ownAddress,                // one of this computer's addresses
};

struct TargetCheck {
    TargetVerdict verdict = TargetVerdict::missing;
    Ipv4Address ip;  // when accepted
};

// `text` as given in ?target=; `sending` the address the exporter sends from, with its
// mask; `own` every address of this computer.
TargetCheck checkTarget(std::string_view text, const LocalAddress& sending,
                        const std::vector<Ipv4Address>& own, bool allowAnyTarget);

// The same rules for an address already parsed (a search reply's).
TargetVerdict checkModuleAddress(Ipv4Address ip, const LocalAddress& sending,
                                 const std::vector<Ipv4Address>& own, bool allowAnyTarget);

// The search replies the exporter's discovery lists: those whose address is a module
// address in the sending subnet (any reply may be forged), in the order given.
std::vector<DeviceHello> discoverableReplies(const std::vector<DeviceHello>& found,
                                             const LocalAddress& sending,
                                             const std::vector<Ipv4Address>& own);

// One line for the HTTP 400 answer.
std::string targetProblem(const TargetCheck& check, std::string_view text);

}  // namespace corvane::exporter
