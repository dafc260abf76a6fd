#include "net/device_search.h"

#include <chrono>
#include <set>

#include "net/device_sockets.h"
#include "net/protocol_messages.h"

namespace corvane {

bool searchDevices(const LocalAddress& localAddress, std::uint16_t searchClass,
                   std::vector<DeviceHello>& found, std::size_t mostReplies) {
    return searchDevicesOver(kernelSearchSystem(), localAddress, searchClass, found, mostReplies);
}

bool searchDevicesOver(SearchSystem& system, const LocalAddress& localAddress,
                       std::uint16_t searchClass, std::vector<DeviceHello>& found,
                       std::size_t mostReplies) {
    found.clear();
    const Request request = buildSearchRequest(searchClass);
    DeviceSockets sockets(system);
    sockets.broadcast(localAddress, request.data(), request.size());
    if (!sockets.anyUsable()) {
        return false;
    }
    const auto deadline = system.now() + std::chrono::milliseconds(kSearchCollectMs);
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
    return setNetworkSettingsOver(kernelSearchSystem(), localAddress, mac, ip, mask, gateway);
}

bool setNetworkSettingsOver(SearchSystem& system, const LocalAddress& localAddress,
                            const MacAddress& mac, Ipv4Address ip, Ipv4Address mask,
                            Ipv4Address gateway) {
    const Request request = buildNetworkSettingsRequest(mac, ip, mask, gateway);
    DeviceSockets sockets(system);
    sockets.broadcast(localAddress, request.data(), request.size());
    if (!sockets.anyUsable()) {
        return false;  // nothing went out; whether a module took it is never known anyway
    }
    // The module does not answer; the pause gives it time to take the settings
    // before anything else is sent. A pause cut short by a signal goes on to its end.
    const auto end = system.now() + std::chrono::milliseconds(kNetworkSettingsPauseMs);
    for (auto now = system.now(); now < end; now = system.now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
        (void)system.wait(nullptr, 0, static_cast<int>(left));  // ends early only by a signal
    }
    return true;
}

}  // namespace corvane
