// corvanectl list: the operator's device list from the settings file.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/report_output.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

int runList(const CliSession& session, OutputForm form) {
    const DeviceList list = session.deviceList();
    Table table{{{"#", "position"}, {"MAC", "mac"}, {"IP", "ip"}}, {}};
    Json document = Json::array();
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string ip = list[i].ipAddress.text();
        table.rows.push_back({std::to_string(i + 1), list[i].macAddress, ip});
        document.push_back({{"position", i + 1}, {"mac", list[i].macAddress}, {"ip", ip}});
    }
    printReport(std::cout, form, table, document);
    return kExitSuccess;
}

}  // namespace

void addListCommand(CLI::App& app, CliSession& session) {
    auto form = std::make_shared<OutputForm>(OutputForm::table);
    CLI::App* command = app.add_subcommand(
        "list", "Show the device list from the settings file: position, MAC, IP address");
    addOutputFormOptions(*command, *form);
    session.addCommand(command, [&session, form] { return runList(session, *form); });
}

}  // namespace corvane::cli
