#include "cli/cli_session.h"

#include <CLI/CLI.hpp>
#include <cstring>
#include <iostream>

#include "app/settings_file.h"
#include "devices/address_input.h"
#include "devices/device_list_storage.h"
#include "devices/operator_site.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

// A validator from a parser: the empty text means the value is accepted.
// Its form is shown by the option's type name, so the validator adds no description.
template <typename Parse>
CLI::Validator validatorOf(const std::string& problem, Parse parse) {
    return CLI::Validator(
        [problem, parse](std::string& text) {
            return parse(text) ? std::string() : "'" + text + "' " + problem;
        },
        "");
}

// Bit 0 of a MAC's first octet marks a group (multicast or broadcast) address.
constexpr std::uint8_t kMulticastBit = 0x01;

}  // namespace

std::string systemReason(int error) {
    return error != 0 ? std::string(": ") + std::strerror(error) : std::string();
}

CLI::Validator dottedAddress() {
    return validatorOf(
        "is not an IPv4 address (four numbers 0-255 joined by dots)",
        [](const std::string& text) { return Ipv4Address::parse(text).has_value(); });
}

CLI::Validator deviceAddress() {
    return validatorOf(
        "is not an address a module may have (four numbers 0-255 joined by "
        "dots; not 0.x, 127.x, 224 or above, nor ending in .0 or .255)",
        [](const std::string& text) {
            const auto ip = Ipv4Address::parse(text);
            return ip && isValidDeviceAddress(*ip);
        });
}

CLI::Validator macAddress() {
    return validatorOf("is not a MAC address (six hex pairs such as 02:C0:7A:DE:00:01)",
                       [](const std::string& text) { return parseMac(text).has_value(); });
}

CLI::Validator moduleMac() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const auto mac = parseMac(text);
            if (!mac) {
                return "'" + text +
                       "' is not a MAC address (six hex pairs such as 02:C0:7A:DE:00:01)";
            }
            if (((*mac)[0] & kMulticastBit) != 0) {  // the broadcast MAC has it too
                return "'" + text + "' is a broadcast or multicast MAC, which no module has";
            }
            return {};
        },
        "");
}

CLI::Validator networkMask() {
    return validatorOf(
        "is not a network mask (four numbers 0-255 joined by dots, ones then zeros in binary, "
        "such as 255.255.255.0)",
        [](const std::string& text) {
            const auto mask = Ipv4Address::parse(text);
            const std::uint32_t zeros = mask ? ~mask->hostOrder() : 0;
            return mask && (zeros & (zeros + 1)) == 0;
        });
}

CLI::Validator destination() {
    return validatorOf("is not a destination (an IPv4 address, ':' and a port 1-65535)",
                       [](const std::string& text) { return parseDestination(text).has_value(); });
}

Ipv4Address addressOf(const std::string& text) {
    return Ipv4Address::parse(text).value_or(Ipv4Address());
}

CliSession::CliSession(std::string executable) : m_executable(std::move(executable)) {}

void CliSession::addCommonOptions(CLI::App& app) {
    app.add_option("--settings", m_settingsPath,
                   "The operator's settings file to read the device list and the chosen local "
                   "address from (never written). Default: the file corvane-control beside "
                   "corvanectl uses")
        ->type_name("FILE")
        ->check(CLI::ExistingFile.description(""))
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--from", m_fromText,
                   "The local address to send from. Default: the one chosen in the program, "
                   "else the only usable one")
        ->type_name("ADDRESS")
        ->check(dottedAddress())
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void CliSession::addCommand(CLI::App* command, std::function<int()> action) {
    m_commands.emplace_back(command, std::move(action));
}

int CliSession::runParsedCommand() const {
    for (const auto& [command, action] : m_commands) {
        if (command->parsed()) {
            return action();
        }
    }
    return kExitUsage;
}

DeviceList CliSession::deviceList(bool sayMissing) const {
    const SettingsLocation location = frontEndSettingsLocation(m_executable, m_settingsPath);
    const SettingsAccess access = checkSettingsAccess(location);
    if (access.state == SettingsState::unreadable) {
        throw CommandError(kExitFailure,
                           "cannot read the settings file " + access.path + ": " + access.reason);
    }
    DeviceList list;
    if (access.state == SettingsState::readable) {
        loadDeviceList(SettingsFile(location), list);
    } else if (sayMissing) {
        std::cerr << "corvanectl: no settings file yet (" << access.path
                  << "), so no device list\n";
    }
    return list;
}

LocalAddress CliSession::sourceAddress() const {
    std::optional<Ipv4Address> requested;
    if (m_fromText) {
        requested = addressOf(*m_fromText);
    }
    std::string settingsProblem;
    const SourceChoice choice = chooseFrontEndSource(
        requested, frontEndSettingsLocation(m_executable, m_settingsPath), settingsProblem);
    if (!settingsProblem.empty()) {
        throw CommandError(kExitFailure, settingsProblem);
    }
    if (!choice.chosen()) {
        // No usable address at all is this computer's state; the others are the command
        // line's to fix.
        throw CommandError(
            choice.status == SourceChoiceStatus::noneUsable ? kExitFailure : kExitUsage,
            sourceChoiceProblem(choice));
    }
    return choice.address;
}

std::optional<Ipv4Address> CliSession::defaultSourceAddress() const {
    try {
        return sourceAddress().address;
    } catch (const CommandError&) {
        return std::nullopt;
    }
}

}  // namespace corvane::cli
