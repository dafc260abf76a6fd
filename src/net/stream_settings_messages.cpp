#include "net/stream_settings_messages.h"

#include <array>

#include "net/datagram_exchange.h"
#include "net/device_sockets.h"
#include "net/protocol_messages.h"

namespace corvane {

bool getStreamSettings(const LocalAddress& localAddress, Ipv4Address deviceIp,
                       StreamSettings& settings) {
    settings = StreamSettings{};
    const Request request = buildStatusRequest();
    std::array<std::uint8_t, kReceiveBufferLength> reply{};
    std::size_t received = 0;
    if (!exchangeDatagram(localAddress, deviceIp, request.data(), request.size(), reply.data(),
                          reply.size(), kStatusReplyMinLength, &received)) {
        return false;
    }
    return decodeStatusReply(reply.data(), received, settings);
}

bool setStreamSettings(const LocalAddress& localAddress, Ipv4Address deviceIp,
                       const StreamSettings& settings) {
    const SettingsRequest request = buildSettingsRequest(settings);
    return exchangeDatagram(localAddress, deviceIp, request.data(), request.size(), nullptr, 0, 0,
                            nullptr);
}

bool getPassportData(const LocalAddress& localAddress, Ipv4Address deviceIp, PassportData& data) {
    data.fill(0);
    const Request request = buildPassportRequest();
    PassportData reply{};
    std::size_t received = 0;
    if (!exchangeDatagram(localAddress, deviceIp, request.data(), request.size(), reply.data(),
                          reply.size(), kPassportReplyMinLength, &received)) {
        return false;
    }
    return decodePassportReply(reply.data(), received, data);
}

}  // namespace corvane
