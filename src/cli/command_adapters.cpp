// corvanectl adapters: the local addresses a command can send from.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/report_output.h"
#include "net/local_addresses.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

int runAdapters(const CliSession& session, OutputForm form) {
    std::vector<LocalAddress> addresses;
    listLocalAddresses(addresses);  // none, or a failed query, prints an empty list
    const std::optional<Ipv4Address> chosen = session.defaultSourceAddress();
    Table table{{{"ADDRESS", "address"}, {"MASK", "mask"}, {"DEFAULT", "default"}}, {}};
    Json document = Json::array();
    for (const LocalAddress& local : addresses) {
        const bool isDefault = chosen == local.address;
        const std::string address = local.address.text();
        const std::string mask = local.mask.text();
        table.rows.push_back({address, mask, isDefault ? "yes" : ""});
        document.push_back({{"address", address}, {"mask", mask}, {"default", isDefault}});
    }
    printReport(std::cout, form, table, document);
    return kExitSuccess;
}

}  // namespace

void addAdaptersCommand(CLI::App& app, CliSession& session) {
    auto form = std::make_shared<OutputForm>(OutputForm::table);
    CLI::App* command = app.add_subcommand(
        "adapters",
        "List this computer's usable IPv4 addresses and masks; DEFAULT marks the one "
        "commands send from without --from");
    addOutputFormOptions(*command, *form);
    session.addCommand(command, [&session, form] { return runAdapters(session, *form); });
}

}  // namespace corvane::cli
