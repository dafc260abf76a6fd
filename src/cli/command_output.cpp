// corvanectl output start|stop: the IP output dialog's Start and Stop, the same datagram
// for the same values. The module does not answer either.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <memory>

#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/target_input.h"
#include "devices/address_input.h"
#include "devices/output_settings.h"
#include "net/stream_settings_messages.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

struct OutputOptions {
    std::string target;
    std::string destination;
    std::string protocol;  // "rtp+", "rtp" or "udp", as checked
    bool noStuffing = false;
};

std::vector<std::string> protocolChoices() {
    std::vector<std::string> choices;
    for (const char* name : kProtocolNames) {
        choices.push_back(CLI::detail::to_lower(name));
    }
    return choices;
}

// The index the module knows a protocol by, for a name among protocolChoices().
int protocolIndex(const std::string& name) {
    const std::vector<std::string> choices = protocolChoices();
    return static_cast<int>(std::find(choices.begin(), choices.end(), name) - choices.begin());
}

void send(const CliSession& session, const std::string& text, const StreamSettings& settings) {
    const Ipv4Address ip = resolveTargets(session, {text}).front().ip;
    const LocalAddress local = session.sourceAddress();
    errno = 0;
    if (!setStreamSettings(local, ip, settings)) {
        throw CommandError(kExitFailure, "could not send to " + ip.text() + " from " +
                                             local.address.text() + systemReason(errno));
    }
}

int runStart(const CliSession& session, const OutputOptions& options) {
    const Destination destination = parseDestination(options.destination).value();
    send(session, options.target,
         outputStartSettings(protocolIndex(options.protocol), destination.ip, destination.port,
                             options.noStuffing));
    return kExitSuccess;
}

int runStop(const CliSession& session, const OutputOptions& options) {
    send(session, options.target, outputStopSettings());
    return kExitSuccess;
}

}  // namespace

void addOutputCommand(CLI::App& app, CliSession& session) {
    CLI::App* output = app.add_subcommand("output", "Start or stop a module's IP output");
    output->require_subcommand(1);

    auto start = std::make_shared<OutputOptions>();
    CLI::App* startCommand = output->add_subcommand(
        "start", "Start the module's IP output (the IP output dialog's Start)");
    startCommand->add_option("TARGET", start->target, kTargetHelp)
        ->required()
        ->type_name("TARGET")
        ->check(targetForm());
    startCommand->add_option("--destination", start->destination, "Where the stream goes")
        ->required()
        ->type_name("A.B.C.D:PORT")
        ->check(destination());
    startCommand->add_option("--protocol", start->protocol, "The output's protocol")
        ->required()
        ->type_name("PROTOCOL")
        ->transform(CLI::IsMember(protocolChoices(), CLI::ignore_case));
    startCommand->add_flag("--no-stuffing", start->noStuffing, "Send no stuffing packets");
    session.addCommand(startCommand, [&session, start] { return runStart(session, *start); });

    auto stop = std::make_shared<OutputOptions>();
    CLI::App* stopCommand =
        output->add_subcommand("stop", "Stop the module's IP output (the IP output dialog's Stop)");
    stopCommand->add_option("TARGET", stop->target, kTargetHelp)
        ->required()
        ->type_name("TARGET")
        ->check(targetForm());
    session.addCommand(stopCommand, [&session, stop] { return runStop(session, *stop); });
}

}  // namespace corvane::cli
