// corvanectl status: one sweep of the targets, reported in the order they were given.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <memory>

#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/report_output.h"
#include "cli/status_sweep_run.h"
#include "cli/target_input.h"
#include "devices/status_summary.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

struct StatusOptions {
    std::vector<std::string> targets;
    bool all = false;
    OutputForm form = OutputForm::table;
};

struct Target : ResolvedTarget {
    bool invalid = false;  // a device-list row whose address no module may have
};

std::vector<Target> targetsOf(const CliSession& session, const StatusOptions& options) {
    std::vector<Target> targets;
    if (!options.all) {
        for (const ResolvedTarget& target : resolveTargets(session, options.targets)) {
            targets.push_back({target, false});
        }
        return targets;
    }
    const DeviceList list = session.deviceList();
    for (std::size_t i = 0; i < list.size(); ++i) {
        targets.push_back({{list[i].ipAddress, i + 1, list[i].macAddress},
                           !isValidDeviceAddress(list[i].ipAddress)});
    }
    return targets;
}

// The outputs of an entry-list module in one cell: "239.1.1.1:1234 running, ...".
std::string outputsCell(const StatusSummary& summary) {
    std::string cell;
    for (const OutputSummary& output : summary.outputs) {
        cell += (cell.empty() ? "" : ", ") + formatEndpoint(output.ip, output.port) +
                (output.running ? " running" : " stopped");
    }
    return cell;
}

std::string inputsCell(const StatusSummary& summary) {
    std::string cell;
    for (const InputSummary& input : summary.inputs) {
        cell += (cell.empty() ? "" : ", ") + formatEndpoint(input.ip, input.port);
    }
    return cell;
}

void addRow(const Target& target, const StatusReading& reading, bool withList, Table& table,
            Json& document) {
    const StatusSummary s =
        summarizeStatus(reading.outcome == StatusOutcome::answered, reading.settings);
    Json object = Json::object();
    std::vector<std::string> cells;
    if (withList) {
        if (target.position != 0) {  // an address typed as such has no place in the list
            object["position"] = target.position;
            object["mac"] = target.mac;
        }
        cells = {target.position != 0 ? std::to_string(target.position) : "", target.mac};
    }
    object["ip"] = target.ip.text();
    object["answered"] = s.answered;
    if (target.invalid) {
        object["invalid_address"] = true;
    }
    cells.insert(cells.end(), {target.ip.text(), target.invalid ? "invalid" : yesNo(s.answered)});
    if (s.answered) {
        object["running"] = s.running;
        object["form"] = s.entries ? "entries" : "single";
        cells.push_back(yesNo(s.running));
    }
    if (s.answered && !s.entries) {
        const std::string destination = formatEndpoint(s.destinationIp, s.destinationPort);
        object["protocol"] = protocolName(s.protocol);
        object["destination"] = destination;
        object["no_stuffing"] = s.noStuffing;
        cells.insert(cells.end(), {protocolName(s.protocol), destination, yesNo(s.noStuffing)});
    } else if (s.answered) {
        Json& outputs = object["outputs"] = Json::array();
        for (const OutputSummary& output : s.outputs) {
            outputs.push_back({{"destination", formatEndpoint(output.ip, output.port)},
                               {"running", output.running}});
        }
        Json& inputs = object["inputs"] = Json::array();
        for (const InputSummary& input : s.inputs) {
            inputs.push_back({{"source", formatEndpoint(input.ip, input.port)}});
        }
        cells.insert(cells.end(), {"", outputsCell(s), "", inputsCell(s)});
    }
    table.rows.push_back(std::move(cells));
    document.push_back(std::move(object));
}

Table statusTable(bool withList) {
    Table table{{{"IP", "ip"},
                 {"ANSWERED", "answered"},
                 {"RUNNING", "running"},
                 {"PROTOCOL", "protocol"},
                 {"DESTINATION", "destination"},
                 {"NO STUFFING", "no_stuffing"},
                 {"INPUTS", "inputs"}},
                {}};
    if (withList) {
        table.columns.insert(table.columns.begin(), {{"#", "position"}, {"MAC", "mac"}});
    }
    return table;
}

// Beyond silence, say what went wrong, where the result has no room for it.
void reportProblems(const std::vector<Target>& targets, const std::vector<StatusReading>& readings,
                    const LocalAddress& local) {
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const std::string ip = targets[i].ip.text();
        const StatusOutcome outcome = readings[i].outcome;
        if (targets[i].invalid) {
            std::cerr << "corvanectl: position " << targets[i].position << " of the device list ("
                      << ip << ") is not an address a module may have; nothing was sent to it\n";
        } else if (outcome == StatusOutcome::socket) {
            std::cerr << "corvanectl: " << ip << ": " << socketProblem(readings[i], local) << '\n';
        } else if (outcome != StatusOutcome::answered && outcome != StatusOutcome::timeout) {
            std::cerr << "corvanectl: " << ip << ": " << statusOutcomeName(outcome) << '\n';
        }
    }
}

int runStatus(const CliSession& session, const StatusOptions& options) {
    if (options.all == !options.targets.empty()) {
        throw CommandError(kExitUsage, "status takes TARGETs or --all");
    }
    const std::vector<Target> targets = targetsOf(session, options);
    const bool withList = std::any_of(targets.begin(), targets.end(),
                                      [](const Target& target) { return target.position != 0; });
    Table table = statusTable(withList);
    if (targets.empty()) {  // --all on an empty list: nothing to ask, nothing to send from
        std::cerr << "corvanectl: the device list is empty\n";
        printReport(std::cout, options.form, table, Json::array());
        return kExitSuccess;
    }
    std::vector<std::optional<Ipv4Address>> addresses;
    for (const Target& target : targets) {
        addresses.push_back(target.invalid ? std::nullopt : std::optional(target.ip));
    }
    const LocalAddress local = session.sourceAddress();
    const std::vector<StatusReading> readings = sweepTargets(local, addresses);
    Json document = Json::array();
    bool allAnswered = true;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        addRow(targets[i], readings[i], withList, table, document);
        allAnswered =
            allAnswered && !targets[i].invalid && readings[i].outcome == StatusOutcome::answered;
    }
    printReport(std::cout, options.form, table, document);
    reportProblems(targets, readings, local);
    return allAnswered ? kExitSuccess : kExitFailure;
}

}  // namespace

void addStatusCommand(CLI::App& app, CliSession& session) {
    auto options = std::make_shared<StatusOptions>();
    CLI::App* command = app.add_subcommand(
        "status",
        "Read the status of the TARGET modules (in the order given), or of every module in "
        "the device list with --all; exit status 1 when any did not answer");
    auto* targets = command
                        ->add_option("TARGET", options->targets,
                                     "Modules by position in the device list, MAC or address")
                        ->type_name("TARGET")
                        ->check(targetForm());
    command->add_flag("--all", options->all, "Every module in the device list, in list order")
        ->excludes(targets);
    addOutputFormOptions(*command, options->form);
    session.addCommand(command, [&session, options] { return runStatus(session, *options); });
}

}  // namespace corvane::cli
