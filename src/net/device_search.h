// The two broadcast operations: finding modules on the segment and giving one of
// them new network settings. Both send from the chosen local address on ports 9100
// and 9101 to 255.255.255.255 and close their sockets before they return. Their times
// count on a SearchSystem's clock: the kernel's, or in tests a scripted one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/search_system.h"
#include "net/wire_types.h"

namespace corvane {

// The device class every front end's search asks for: the modules this program manages.
inline constexpr std::uint16_t kSearchClass = 3;
inline constexpr int kSearchCollectMs = 2000;
inline constexpr int kNetworkSettingsPauseMs = 200;
// Modules a search keeps at most: anyone on the segment can answer, as often as it likes.
inline constexpr std::size_t kSearchMostReplies = 4096;

// Empties `found`, broadcasts the search request and collects the "WiZnHeLo" replies
// for 2000 ms, one record per MAC address (the first reply wins), in arrival order,
// at most `mostReplies` of them (later MAC addresses are dropped).
// False at once when neither socket could be created, bound and used to send.
bool searchDevices(const LocalAddress& localAddress, std::uint16_t searchClass,
                   std::vector<DeviceHello>& found, std::size_t mostReplies = kSearchMostReplies);
// The same over `system`'s clock and sockets. (A name of its own: callers keep the
// plain operation as a function value.)
bool searchDevicesOver(SearchSystem& system, const LocalAddress& localAddress,
                       std::uint16_t searchClass, std::vector<DeviceHello>& found,
                       std::size_t mostReplies = kSearchMostReplies);

// Broadcasts the network settings request for the module with `mac`, pauses 200 ms
// and returns true. The module does not answer, so the only failure that can be known
// is that neither socket could send: then the result is false, at once.
bool setNetworkSettings(const LocalAddress& localAddress, const MacAddress& mac, Ipv4Address ip,
                        Ipv4Address mask, Ipv4Address gateway);
bool setNetworkSettingsOver(SearchSystem& system, const LocalAddress& localAddress,
                            const MacAddress& mac, Ipv4Address ip, Ipv4Address mask,
                            Ipv4Address gateway);

}  // namespace corvane
