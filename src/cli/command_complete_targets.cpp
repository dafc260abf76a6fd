// corvanectl __complete-targets: the targets the shell completion offers, one a line:
// every position of the device list, then every MAC it holds. Hidden from the help;
// silent when there is no list, since a completion must never print over the prompt.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/cli_session.h"
#include "cli/commands.h"

namespace corvane::cli {
namespace {

int runCompleteTargets(const CliSession& session) {
    DeviceList list;
    try {
        list = session.deviceList(false);
    } catch (const CommandError&) {
        return kExitFailure;  // nothing to offer; the command itself will say why
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::cout << i + 1 << '\n';
    }
    for (const DeviceRecord& record : list) {
        if (!record.macAddress.empty()) {
            std::cout << record.macAddress << '\n';
        }
    }
    return kExitSuccess;
}

}  // namespace

void addCompleteTargetsCommand(CLI::App& app, CliSession& session) {
    CLI::App* command = app.add_subcommand("__complete-targets", "");
    command->group("");  // hidden
    session.addCommand(command, [&session] { return runCompleteTargets(session); });
}

}  // namespace corvane::cli
