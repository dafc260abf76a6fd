// Which addresses /probe may send a status read to. The exporter sends datagrams on a
// real network for whoever can reach its port, so a target must be an address a module
// may have, inside the subnet of one of this computer's usable addresses, unless the
// operator allowed any target (a routed set-up). A refused target gets nothing sent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/wire_types.h"

namespace corvane::exporter {

enum class TargetVerdict {
    accepted,
    missing,           // no target parameter at all
    notAnAddress,      // not four decimal octets
    notModuleAddress,  // 0.x, 127.x, 224 and above, or ending in .0 or .255
    outsideSubnets,    // not in the subnet of any usable local address
};

struct TargetCheck {
    TargetVerdict verdict = TargetVerdict::missing;
    std::uint32_t ip = 0;  // stored form, when accepted
};

// `text` as given in ?target=; `usable` this computer's usable addresses with their masks.
TargetCheck checkTarget(std::string_view text, const std::vector<LocalAddress>& usable,
                        bool allowAnyTarget);

// One line for the HTTP 400 answer.
std::string targetProblem(const TargetCheck& check, std::string_view text);

}  // namespace corvane::exporter
