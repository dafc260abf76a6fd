// corvanectl set-address: the add-device wizard's network settings broadcast for one MAC.
// The module does not answer it; a search shows whether it took the settings.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <memory>

#include "cli/cli_session.h"
#include "cli/commands.h"
#include "devices/address_input.h"
#include "net/device_search.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

struct SetAddressOptions {
    std::string mac;
    std::string ip;
    std::string mask;
    std::string gateway;
};

int runSetAddress(const CliSession& session, const SetAddressOptions& options) {
    const LocalAddress local = session.sourceAddress();
    errno = 0;
    if (!setNetworkSettings(local, parseMac(options.mac).value(), addressOf(options.ip),
                            addressOf(options.mask), addressOf(options.gateway))) {
        throw CommandError(kExitFailure, "could not send the settings from " +
                                             local.address.text() + systemReason(errno));
    }
    return kExitSuccess;
}

}  // namespace

void addSetAddressCommand(CLI::App& app, CliSession& session) {
    auto options = std::make_shared<SetAddressOptions>();
    CLI::App* command = app.add_subcommand(
        "set-address",
        "Give the module with this MAC a new address, mask and gateway (broadcast, as the "
        "add-device wizard does; the module does not confirm)");
    command->add_option("MAC", options->mac, "The module's MAC address")
        ->required()
        ->type_name("MAC")
        ->check(moduleMac());
    command->add_option("--ip", options->ip, "New address")
        ->required()
        ->type_name("A.B.C.D")
        ->check(deviceAddress());
    command->add_option("--mask", options->mask, "New network mask")
        ->required()
        ->type_name("A.B.C.D")
        ->check(networkMask());
    command->add_option("--gateway", options->gateway, "New default gateway")
        ->required()
        ->type_name("A.B.C.D")
        ->check(dottedAddress());
    session.addCommand(command, [&session, options] { return runSetAddress(session, *options); });
}

}  // namespace corvane::cli
