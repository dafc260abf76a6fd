#include "cli/target_input.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "cli/cli_session.h"
#include "devices/address_input.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

// More digits than any list can have positions; keeps the number from overflowing.
constexpr std::size_t kMaxPositionDigits = 6;

bool isPosition(const std::string& text) {
    return !text.empty() && text.size() <= kMaxPositionDigits &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isModuleAddress(const std::string& text) {
    const auto ip = Ipv4Address::parse(text);
    return ip && isValidDeviceAddress(*ip);
}

std::string listSize(const DeviceList& list) {
    return list.empty() ? "the device list is empty"
                        : "the device list has positions 1 to " + std::to_string(list.size());
}

ResolvedTarget listed(const std::string& text, const DeviceList& list, std::size_t index) {
    const DeviceRecord& record = list[index];
    if (!isValidDeviceAddress(record.ipAddress)) {
        throw CommandError(kExitUsage, "'" + text + "': position " + std::to_string(index + 1) +
                                           " of the device list has the address " +
                                           record.ipAddress.text() + ", which no module may have");
    }
    return {record.ipAddress, index + 1, record.macAddress};
}

ResolvedTarget byPosition(const std::string& text, const DeviceList& list) {
    const std::size_t position = std::stoul(text);
    if (position == 0 || position > list.size()) {
        throw CommandError(kExitUsage, "'" + text + "' is no position in the device list (" +
                                           listSize(list) + ")");
    }
    return listed(text, list, position - 1);
}

ResolvedTarget byMac(const std::string& text, const MacAddress& mac, const DeviceList& list) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (parseMac(list[i].macAddress) == mac) {
            found.push_back(i);
        }
    }
    if (found.empty()) {
        throw CommandError(kExitUsage, "'" + text + "' is not a MAC in the device list");
    }
    if (found.size() > 1) {
        throw CommandError(kExitUsage, "'" + text +
                                           "' is in the device list more than once "
                                           "(positions " +
                                           std::to_string(found[0] + 1) + " and " +
                                           std::to_string(found[1] + 1) + "); name it by position");
    }
    return listed(text, list, found.front());
}

}  // namespace

CLI::Validator targetForm() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (isPosition(text) || parseMac(text) || isModuleAddress(text)) {
                return {};
            }
            if (Ipv4Address::parse(text)) {
                return "'" + text +
                       "' is not an address a module may have (not 0.x, 127.x, 224 or above, "
                       "nor ending in .0 or .255)";
            }
            return "'" + text +
                   "' is not a target: a position in the device list (1, 2, ...), a MAC (six "
                   "hex pairs such as 02:C0:7A:DE:00:01) or a module address (A.B.C.D)";
        },
        "");
}

bool needsDeviceList(const std::string& text) {
    return isPosition(text) || parseMac(text).has_value();
}

ResolvedTarget resolveTarget(const std::string& text, const DeviceList& list) {
    if (isPosition(text)) {
        return byPosition(text, list);
    }
    if (const auto mac = parseMac(text)) {
        return byMac(text, *mac, list);
    }
    return {Ipv4Address::parse(text).value_or(Ipv4Address()), 0, {}};
}

std::vector<ResolvedTarget> resolveTargets(const CliSession& session,
                                           const std::vector<std::string>& texts) {
    const bool listNeeded = std::any_of(texts.begin(), texts.end(), needsDeviceList);
    const DeviceList list = listNeeded ? session.deviceList() : DeviceList{};
    std::vector<ResolvedTarget> targets;
    for (const std::string& text : texts) {
        targets.push_back(resolveTarget(text, list));
    }
    return targets;
}

}  // namespace corvane::cli
