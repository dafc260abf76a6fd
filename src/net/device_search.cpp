#include "net/device_search.h"

#include <chrono>
#include <set>
#include <thread>

#include "net/device_sockets.h"
#include "net/protocol_messages.h"

namespace corvane {

bool searchDevices(const LocalAddress& localAddress, std::uint16_t searchClass,
                   std::vector<DeviceHello>& found, std::size_t mostReplies) {
    found.clear();
    const Request request = buildSearchRequest(searchClass);
    DeviceSockets sockets;
    sockets.broadcast(localAddress, request.data(), request.size());
    if (!sockets.anyUsable()) {
        return false;
    }
    const auto deadline = DeviceSockets::Clock::now() + std::chrono::milliseconds(kSearchCollectMs);
    std::set<MacAddress> seen;
    // The search always collects until its deadline: the handler never ends it.
    sockets.receiveUntil(deadline, [&](const std::uint8_t* bytes, std::size_t length) {
        DeviceHello hello;
        if (found.size() >= mostReplies || !decodeSearchReply(bytes, length, hello)) {
            return false;
        }
        // The first answer of a module wins, whichever port it came through.
        if (seen.insert(hello.mac).second) {
            found.push_back(hello);
        }
        return false;
    });
    return true;
}

bool setNetworkSettings(const LocalAddress& localAddress, const MacAddress& mac, Ipv4Address ip,
                        Ipv4Address mask, Ipv4Address gateway) {
    const Request request = buildNetworkSettingsRequest(mac, ip, mask, gateway);
    DeviceSockets sockets;
    sockets.broadcast(localAddress, request.data(), request.size());
    if (!sockets.anyUsable()) {
        return false;  // nothing went out; whether a module took it is never known anyway
    }
    // The module does not answer; the pause gives it time to take the settings
    // before anything else is sent.
    std::this_thread::sleep_for(std::chrono::milliseconds(kNetworkSettingsPauseMs));
    return true;
}

}  // namespace corvane
