// corvanectl search: one broadcast search of the segment, the modules sorted by MAC.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <iostream>
#include <memory>

#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/progress_line.h"
#include "cli/report_output.h"
#include "devices/found_modules.h"
#include "net/device_search.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

struct SearchOptions {
    std::uint16_t searchClass = kSearchClass;
    OutputForm form = OutputForm::table;
};

int runSearch(const CliSession& session, const SearchOptions& options) {
    const LocalAddress local = session.sourceAddress();
    std::vector<DeviceHello> found;
    bool searched = false;
    int error = 0;
    {
        const ProgressLine progress([] { return std::string("Searching..."); });
        errno = 0;
        searched = searchDevices(local, options.searchClass, found);
        error = errno;  // before the progress line is erased
    }
    if (!searched) {
        throw CommandError(kExitFailure, "could not send the search from " + local.address.text() +
                                             systemReason(error));
    }
    Table table{{{"MAC", "mac"},
                 {"IP", "ip"},
                 {"MASK", "mask"},
                 {"GATEWAY", "gateway"},
                 {"CLASS", "class"},
                 {"NOTE", "note"}},
                {}};
    Json document = Json::array();
    for (const FoundModule& module : sortFoundModules(found)) {
        const DeviceHello& hello = module.hello;
        const std::string mac = formatMacAddress(hello.mac);
        const std::string ip = Ipv4Address::fromNetworkOrder(hello.ipAddress).text();
        const std::string mask = Ipv4Address::fromNetworkOrder(hello.networkMask).text();
        const std::string gateway = Ipv4Address::fromNetworkOrder(hello.defaultGateway).text();
        const unsigned deviceClass = hello.deviceClassValue();
        table.rows.push_back({mac, ip, mask, gateway, std::to_string(deviceClass),
                              module.duplicateAddress ? "duplicate address" : ""});
        document.push_back({{"mac", mac},
                            {"ip", ip},
                            {"mask", mask},
                            {"gateway", gateway},
                            {"class", deviceClass},
                            {"duplicate", module.duplicateAddress}});
    }
    printReport(std::cout, options.form, table, document);
    return kExitSuccess;
}

}  // namespace

void addSearchCommand(CLI::App& app, CliSession& session) {
    auto options = std::make_shared<SearchOptions>();
    CLI::App* command = app.add_subcommand(
        "search",
        "Search the segment for modules (2 s broadcast); rows sorted by MAC, modules that "
        "share an IP address marked \"duplicate address\"");
    command->add_option("--class", options->searchClass, "Device class to search for")
        ->capture_default_str()
        ->check(CLI::Range(0, 65535));
    addOutputFormOptions(*command, options->form);
    session.addCommand(command, [&session, options] { return runSearch(session, *options); });
}

}  // namespace corvane::cli
