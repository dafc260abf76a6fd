// The settings records that start and stop a module's IP output, as the IP output
// dialog and corvanectl send them: the single form, everything not named here zero.
#pragma once

#include <cstdint>

#include "net/wire_types.h"

namespace corvane {

// Names of the protocols a module knows, in the order of their stored index.
inline constexpr int kProtocolCount = 3;
inline constexpr const char* kProtocolNames[kProtocolCount] = {"RTP+", "RTP", "UDP"};

// Start: mode 3, the protocol index (its low byte: nothing selected, -1, goes out as
// 255), the destination, the port and the "No stuffings" flag.
StreamSettings outputStartSettings(int protocol, Ipv4Address destinationIp, std::uint16_t port,
                                   bool noStuffing);

inline StreamSettings outputStopSettings() {
    return StreamSettings{};
}

}  // namespace corvane
