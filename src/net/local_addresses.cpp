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

std::array<std::uint8_t, 4> octetsOf(std::uint32_t stored) {
    std::array<std::uint8_t, 4> octets{};
    std::memcpy(octets.data(), &stored, octets.size());
    return octets;
}

// Loopback (127) and the limited-broadcast block (255) share the low seven bits.
bool isUsableSource(std::uint32_t stored) {
    const auto octets = octetsOf(stored);
    return stored != 0 && (octets[0] & 0x7F) != 0x7F;
}

// Dotted order: the first octet is the most significant, whatever the host order.
std::uint32_t dottedKey(std::uint32_t stored) {
    const auto octets = octetsOf(stored);
    return std::uint32_t{octets[0]} << 24 | std::uint32_t{octets[1]} << 16 |
           std::uint32_t{octets[2]} << 8 | std::uint32_t{octets[3]};
}

std::uint32_t storedAddressOf(const sockaddr* address) {
    if (address == nullptr || address->sa_family != AF_INET) {
        return 0;
    }
    sockaddr_in ipv4{};
    std::memcpy(&ipv4, address, sizeof ipv4);
    std::uint32_t stored = 0;
    // s_addr is in network order, which is the stored form.
    std::memcpy(&stored, &ipv4.sin_addr.s_addr, sizeof stored);
    return stored;
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
    std::sort(list.begin(), list.end(), [](const LocalAddress& a, const LocalAddress& b) {
        return dottedKey(a.address) < dottedKey(b.address);
    });
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
        rows.push_back({storedAddressOf(entry->ifa_addr), storedAddressOf(entry->ifa_netmask)});
    }
    return selectLocalAddresses(rows, list);
}

}  // namespace corvane
