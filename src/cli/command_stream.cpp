// corvanectl stream: what arrives at this computer from the TARGET modules' running
// outputs (or at destinations given by hand), every stream measured at once on one
// thread for the same few seconds, then reported one row per stream.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>

#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/progress_line.h"
#include "cli/status_sweep_run.h"
#include "cli/stream_report.h"
#include "cli/target_input.h"
#include "devices/device_record.h"
#include "devices/status_summary.h"
#include "reports/address_formats.h"
#include "streams/stream_monitor.h"

namespace corvane::cli {
namespace {

constexpr double kDefaultSeconds = 5;
constexpr double kMaxSeconds = 3600;  // a bound on a measurement someone forgot to stop

struct StreamOptions {
    std::vector<std::string> targets;
    std::vector<std::string> groups;
    double seconds = kDefaultSeconds;
    OutputForm form = OutputForm::table;
};

// One stream to measure: where it lands, who sends it, how the module wraps it.
struct PlannedStream {
    std::optional<Ipv4Address> target;
    StreamDestination destination;
    Ipv4Address source;  // the sender counted; unspecified for any
    StreamProtocol protocol = StreamProtocol::unknown;
    bool operator==(const PlannedStream&) const = default;
};

// An output entry's protocol sits in bits 8-11 of its transmit parameters.
StreamProtocol entryProtocol(const OutputEntry& entry) {
    return streamProtocolFromIndex((entry.txParams >> 8) & 0x0F);
}

// Every running output of an answered module: the single form's one, or each running
// entry of the list form.
std::vector<PlannedStream> runningOutputs(Ipv4Address module, const StreamSettings& status) {
    const StatusSummary summary = summarizeStatus(true, status);
    std::vector<PlannedStream> streams;
    if (!summary.entries) {
        if (summary.running) {
            streams.push_back({module,
                               {summary.destinationIp, summary.destinationPort, {}},
                               module,
                               streamProtocolFromIndex(summary.protocol)});
        }
        return streams;
    }
    for (std::size_t i = 0; i < summary.outputs.size(); ++i) {
        const OutputSummary& output = summary.outputs[i];
        if (output.running) {
            streams.push_back(
                {module, {output.ip, output.port, {}}, module, entryProtocol(status.outputs[i])});
        }
    }
    return streams;
}

// Reads the targets' status and plans their running outputs; says on standard error
// which target did not answer or has nothing running. False when any of them.
bool planTargets(const std::vector<ResolvedTarget>& targets, const LocalAddress& local,
                 std::vector<PlannedStream>& planned) {
    std::vector<std::optional<Ipv4Address>> addresses;
    for (const ResolvedTarget& target : targets) {
        addresses.emplace_back(target.ip);
    }
    const std::vector<StatusReading> readings = sweepTargets(local, addresses);
    bool complete = true;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const std::string ip = targets[i].ip.text();
        const StatusReading& reading = readings[i];
        if (reading.outcome == StatusOutcome::socket) {
            std::cerr << "corvanectl: " << ip << ": " << socketProblem(reading, local) << '\n';
        } else if (reading.outcome != StatusOutcome::answered) {
            std::cerr << "corvanectl: " << ip << ": did not answer ("
                      << statusOutcomeName(reading.outcome) << ")\n";
        }
        if (reading.outcome != StatusOutcome::answered) {
            complete = false;
            continue;
        }
        const std::vector<PlannedStream> outputs = runningOutputs(targets[i].ip, reading.settings);
        if (outputs.empty()) {
            std::cerr << "corvanectl: " << ip << ": no running output\n";
            complete = false;
        }
        for (const PlannedStream& stream : outputs) {  // a target named twice is measured once
            if (std::find(planned.begin(), planned.end(), stream) == planned.end()) {
                planned.push_back(stream);
            }
        }
    }
    return complete;
}

std::vector<PlannedStream> plannedGroups(const std::vector<std::string>& groups) {
    std::vector<PlannedStream> planned;
    for (const std::string& text : groups) {
        std::string error;
        const std::optional<StreamDestination> destination = parseStreamDestination(text, error);
        if (!destination) {
            throw CommandError(kExitUsage, "--group '" + text + "': " + error);
        }
        planned.push_back(
            {std::nullopt, *destination, destination->source, StreamProtocol::unknown});
    }
    return planned;
}

// A module that reports no destination (0.0.0.0, port 0) sends nowhere; a socket bound
// there would count whatever else reaches the port.
bool measurable(const StreamDestination& destination, std::string& error) {
    if (!destination.address.isUnspecified() && destination.port != 0) {
        return true;
    }
    error = destination.text() + ": no destination to measure";
    return false;
}

struct Measured {
    std::vector<StreamRow> rows;
    bool complete = true;  // every stream could be received for the whole time
};

// Joins every destination, measures them all for `seconds` and reads them at the end.
Measured measureStreams(const std::vector<PlannedStream>& planned, const LocalAddress& local,
                        double seconds) {
    const auto clock = [] { return StreamClock::now(); };
    Measured measured;
    std::vector<std::unique_ptr<StreamMonitor>> monitors;
    std::vector<StreamMonitor*> started;
    const StreamTime from = clock();
    for (const PlannedStream& stream : planned) {
        StreamReceiveOptions options;
        options.localAddress = local.address;
        options.expectedSource = stream.source;
        options.measurement.protocol = stream.protocol;
        auto monitor = std::make_unique<StreamMonitor>();
        std::string error;
        if (!measurable(stream.destination, error)) {
            std::cerr << "corvanectl: " << error << '\n';
            measured.complete = false;
            monitor.reset();
        } else if (monitor->start(stream.destination, options, from, error)) {
            started.push_back(monitor.get());
        } else {
            std::cerr << "corvanectl: cannot receive " << error << '\n';
            measured.complete = false;
            monitor.reset();
        }
        monitors.push_back(std::move(monitor));
    }
    const auto length =
        std::chrono::duration_cast<StreamClock::duration>(std::chrono::duration<double>(seconds));
    const std::size_t count = started.size();
    const ProgressLine progress([from, seconds, count, clock] {
        const double done = std::chrono::duration<double>(clock() - from).count();
        return "Measuring " + std::to_string(count) + (count == 1 ? " stream: " : " streams: ") +
               std::to_string(static_cast<int>(std::min(done, seconds))) + " of " +
               std::to_string(static_cast<int>(std::ceil(seconds))) + " s...";
    });
    std::string error;
    if (!started.empty() && !measureUntil(started, from + length, clock, error)) {
        std::cerr << "corvanectl: " << error << '\n';
        measured.complete = false;
    }
    const StreamTime end = clock();
    for (std::size_t i = 0; i < planned.size(); ++i) {
        StreamRow row{planned[i].target, planned[i].source, {}};
        if (monitors[i]) {
            row.snapshot = monitors[i]->snapshot(end);
        }
        row.snapshot.destination = planned[i].destination;
        measured.rows.push_back(std::move(row));
    }
    return measured;
}

int runStream(const CliSession& session, const StreamOptions& options) {
    if (options.targets.empty() && options.groups.empty()) {
        throw CommandError(kExitUsage, "stream takes TARGETs, --group or both");
    }
    const std::vector<PlannedStream> groups = plannedGroups(options.groups);
    const std::vector<ResolvedTarget> targets = resolveTargets(session, options.targets);
    const LocalAddress local = session.sourceAddress();
    std::vector<PlannedStream> planned;
    const bool allPlanned = targets.empty() || planTargets(targets, local, planned);
    for (const PlannedStream& group : groups) {  // a unicast port shared would split its datagrams
        if (std::find(planned.begin(), planned.end(), group) == planned.end()) {
            planned.push_back(group);
        }
    }
    const Measured measured = measureStreams(planned, local, options.seconds);
    Json document = Json::array();
    bool healthy = allPlanned && measured.complete;
    for (const StreamRow& row : measured.rows) {
        document.push_back(streamJson(row));
        healthy = healthy && row.snapshot.healthy();
    }
    printReport(std::cout, options.form, streamTable(measured.rows, options.form), document);
    return healthy ? kExitSuccess : kExitFailure;
}

}  // namespace

void addStreamCommand(CLI::App& app, CliSession& session) {
    auto options = std::make_shared<StreamOptions>();
    CLI::App* command = app.add_subcommand(
        "stream",
        "Measure what arrives at this computer from every running output of the TARGET "
        "modules (and at each --group) for the same few seconds: bitrates, services and the "
        "first-priority transport stream errors; exit status 1 when any stream did not "
        "arrive, had an error or RTP loss, or carried only stuffing");
    command->add_option("TARGET", options->targets, kTargetHelp)
        ->type_name("TARGET")
        ->check(targetForm());
    command
        ->add_option("--seconds", options->seconds, "How long to measure (default 5; at most 3600)")
        ->type_name("N")
        ->check(CLI::Range(0.1, kMaxSeconds));
    command
        ->add_option("--group", options->groups,
                     "Also measure this destination, given by hand: a multicast group "
                     "(source-specific with SOURCE@) or an address of this computer")
        ->type_name("[SOURCE@]A.B.C.D:PORT")
        ->allow_extra_args(false);
    addOutputFormOptions(*command, options->form);
    session.addCommand(command, [&session, options] { return runStream(session, *options); });
}

}  // namespace corvane::cli
