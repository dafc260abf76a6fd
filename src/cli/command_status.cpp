// corvanectl status: one sweep of the targets, reported in the order they were given.
#include <CLI/CLI.hpp>
#include <atomic>
#include <iostream>
#include <memory>

#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/progress_line.h"
#include "cli/report_output.h"
#include "devices/status_summary.h"
#include "net/status_sweep.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

struct StatusOptions {
    std::vector<std::string> targets;
    bool all = false;
    OutputForm form = OutputForm::table;
};

struct Target {
    std::uint32_t ip = 0;
    std::size_t position = 0;  // 1-based place in the device list; 0 when not from it
    std::string mac;
};

std::vector<Target> targetsOf(const CliSession& session, const StatusOptions& options) {
    std::vector<Target> targets;
    if (!options.all) {
        for (const std::string& text : options.targets) {
            targets.push_back({addressOf(text), 0, {}});
        }
        return targets;
    }
    const DeviceList list = session.deviceList();
    for (std::size_t i = 0; i < list.size(); ++i) {
        targets.push_back({list[i].ipAddress, i + 1, list[i].macAddress});
    }
    return targets;
}

std::vector<StatusReading> sweep(const LocalAddress& local, const std::vector<Target>& targets) {
    std::vector<std::uint32_t> addresses;
    for (const Target& target : targets) {
        addresses.push_back(target.ip);
    }
    std::vector<StatusReading> readings(targets.size());
    std::atomic<std::size_t> done{0};
    const ProgressLine progress([&done, total = targets.size()] {
        return "Checking " + std::to_string(done.load()) + " of " + std::to_string(total) + "...";
    });
    sweepStatus(local, addresses, SweepOptions{},
                [&readings, &done](std::size_t index, const StatusReading& reading) {
                    readings[index] = reading;
                    ++done;
                });
    return readings;
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
        object["position"] = target.position;
        object["mac"] = target.mac;
        cells = {std::to_string(target.position), target.mac};
    }
    object["ip"] = formatIpAddress(target.ip);
    object["answered"] = s.answered;
    cells.insert(cells.end(), {formatIpAddress(target.ip), yesNo(s.answered)});
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

int runStatus(const CliSession& session, const StatusOptions& options) {
    if (options.all == !options.targets.empty()) {
        throw CommandError(kExitUsage, "status takes TARGET addresses or --all");
    }
    const std::vector<Target> targets = targetsOf(session, options);
    Table table = statusTable(options.all);
    if (targets.empty()) {  // --all on an empty list: nothing to ask, nothing to send from
        std::cerr << "corvanectl: the device list is empty\n";
        printReport(std::cout, options.form, table, Json::array());
        return kExitSuccess;
    }
    const std::vector<StatusReading> readings = sweep(session.sourceAddress(), targets);
    Json document = Json::array();
    bool allAnswered = true;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        addRow(targets[i], readings[i], options.all, table, document);
        allAnswered = allAnswered && readings[i].outcome == StatusOutcome::answered;
    }
    printReport(std::cout, options.form, table, document);
    // Beyond silence, say what went wrong, where the result has no room for it.
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const StatusOutcome outcome = readings[i].outcome;
        if (outcome != StatusOutcome::answered && outcome != StatusOutcome::timeout) {
            std::cerr << "corvanectl: " << formatIpAddress(targets[i].ip) << ": "
                      << statusOutcomeName(outcome) << '\n';
        }
    }
    return allAnswered ? kExitSuccess : kExitFailure;
}

}  // namespace

void addStatusCommand(CLI::App& app, CliSession& session) {
    auto options = std::make_shared<StatusOptions>();
    CLI::App* command = app.add_subcommand(
        "status",
        "Read the status of modules at the TARGET addresses (in the order given), or of every "
        "module in the device list with --all; exit status 1 when any did not answer");
    auto* targets = command->add_option("TARGET", options->targets, "Module addresses")
                        ->type_name("A.B.C.D")
                        ->check(deviceAddress());
    command->add_flag("--all", options->all, "Every module in the device list, in list order")
        ->excludes(targets);
    addOutputFormOptions(*command, options->form);
    session.addCommand(command, [&session, options] { return runStatus(session, *options); });
}

}  // namespace corvane::cli
