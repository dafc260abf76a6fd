#include "net/local_addresses.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace corvane {

namespace {

// Loopback (127) and the limited-broadcast block (255) share the low seven bits.
bool isUsableSource(Ipv4Address address) {
    return !address.isUnspecified() && (address.octets()[0] & 0x7F) != 0x7F;
}

Ipv4Address addressOf(const sockaddr* address) {
    if (address == nullptr || address->sa_family != AF_INET) {
        return {};
    }
    sockaddr_in ipv4{};
    std::memcpy(&ipv4, address, sizeof ipv4);
    return Ipv4Address::fromNetworkOrder(ipv4.sin_addr.s_addr);
}

}  // namespace

bool selectLocalAddresses(const std::vector<AddressTableRow>& rows,
                          std::vector<LocalAddress>& list) {
    list.clear();
    for (const AddressTableRow& row : rows) {
        if (!isUsableSource(row.address)) {
            continue;
        }
        const bool known = std::any_of(list.begin(), list.end(), [&](const LocalAddress& entry) {
            return entry.address == row.address;
        });
        if (!known) {
            list.push_back(LocalAddress{row.address, row.mask, 0});
        }
    }
    // Each address occurs once, so a plain sort keeps the first row's mask.
    std::sort(list.begin(), list.end(),
              [](const LocalAddress& a, const LocalAddress& b) { return a.address < b.address; });
    return !list.empty();
}

bool listLocalAddresses(std::vector<LocalAddress>& list) {
    list.clear();
    ifaddrs* first = nullptr;
    if (getifaddrs(&first) != 0) {
        return false;
    }
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> guard(first, &freeifaddrs);
    std::vector<AddressTableRow> rows;
    for (const ifaddrs* entry = first; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        rows.push_back({addressOf(entry->ifa_addr), addressOf(entry->ifa_netmask)});
    }
    return selectLocalAddresses(rows, list);
}

}  // namespace corvane
