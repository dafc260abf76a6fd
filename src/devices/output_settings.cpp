#include "devices/output_settings.h"

namespace corvane {

StreamSettings outputStartSettings(int protocol, Ipv4Address destinationIp, std::uint16_t port,
                                   bool noStuffing) {
    StreamSettings settings{};
    settings.mode = kModeRunning;
    settings.protocol = static_cast<std::uint8_t>(protocol);
    settings.destinationIp = destinationIp.networkOrder();
    settings.destinationPort = port;
    settings.flags = noStuffing ? kNoStuffingFlag : 0;
    return settings;
}

}  // namespace corvane
