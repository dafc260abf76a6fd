// corvane_exporter: the modules' status for Prometheus, following its multi-target
// exporters: Prometheus names one module per scrape of /probe, and the exporter reads
// that module's status through the same sweep as the window and corvanectl.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <iostream>
#include <thread>

#include "app/settings_path.h"
#include "devices/address_input.h"
#include "devices/operator_site.h"
#include "exporter/exporter_log.h"
#include "exporter/exporter_routes.h"
#include "exporter/guarded_server.h"
#include "exporter/listen_address.h"
#include "net/open_file_limit.h"
#include "reports/address_formats.h"

namespace {

using namespace corvane;
using namespace corvane::exporter;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr std::size_t kDefaultMaxProbes = 64;
constexpr std::size_t kMostProbes = 1024;
// HTTP workers beyond the probes, so /metrics, /targets and the 503 of one probe too
// many are answered while every probe slot waits on a module.
constexpr std::size_t kSpareWorkers = 8;
// Workers that one client address can never take: another client is always served.
constexpr std::size_t kWorkersForOthers = kSpareWorkers / 2;
constexpr unsigned kDefaultDiscoveryMaxAge = 30;
constexpr unsigned kMostDiscoveryMaxAge = 3600;
constexpr std::size_t kMostSearchReplies = 65536;
constexpr std::size_t kDefaultStreamDestinations = 64;
constexpr std::size_t kMostStreamDestinations = 1024;
// Descriptors beyond sockets: standard streams, the listener, eventfds, files read.
constexpr std::uint64_t kOtherOpenFiles = 64;

constexpr char kFooter[] =
    "Endpoints: /probe?target=A.B.C.D (one module's status; &debug=true shows the\n"
    "datagrams; &module=stream also measures its running outputs where they land\n"
    "here), /metrics (the exporter's own), /targets (Prometheus HTTP service\n"
    "discovery from the device list; ?discover=1 from a 2 s broadcast search, reused\n"
    "for --discovery.max-age) and /.\n"
    "Only status reads are ever sent to a module. A target must be an address a module\n"
    "may have, in the subnet of the address it sends from (unless --allow-any-target),\n"
    "neither that subnet's network or broadcast address nor one of this computer's\n"
    "addresses; any other is refused with HTTP 400 and nothing is sent.\n"
    "SIGTERM or SIGINT: stop listening, let the probes in flight end, exit 0.\n"
    "\n"
    "Exit status: 0 after a signal, 1 when it cannot start (address in use, web\n"
    "configuration not valid, no usable local address), 2 for a usage error.";

struct Options {
    std::string listen = kDefaultListenAddress;
    std::optional<std::string> webConfig;
    std::optional<std::string> settings;
    std::optional<std::string> from;
    bool allowAnyTarget = false;
    std::size_t maxProbes = kDefaultMaxProbes;
    unsigned discoveryMaxAge = kDefaultDiscoveryMaxAge;
    std::size_t searchReplies = kSearchMostReplies;
    std::size_t streamDestinations = kDefaultStreamDestinations;
};

class StartError : public std::runtime_error {
public:
    StartError(int status, const std::string& what) : std::runtime_error(what), m_status(status) {}
    int status() const { return m_status; }

private:
    int m_status;
};

// Where the exporter listens and what it reads.
void addServingOptions(CLI::App& app, Options& options) {
    app.add_option("--web.listen-address", options.listen,
                   "Address and port to listen on: HOST:PORT, [IPv6]:PORT, or :PORT for every "
                   "IPv4 address")
        ->type_name("ADDRESS")
        ->capture_default_str()
        ->check(CLI::Validator(
            [](std::string& text) {
                return parseListenAddress(text) ? std::string()
                                                : "'" + text + "' is not HOST:PORT (port 1-65535)";
            },
            ""));
    app.add_option("--web.config.file", options.webConfig,
                   "YAML file with TLS and basic authentication, as for Prometheus's exporters "
                   "(tls_server_config: cert_file, key_file; basic_auth_users: name: bcrypt "
                   "hash); read again when it changes")
        ->type_name("FILE")
        ->check(CLI::ExistingFile.description(""));
    app.add_option("--settings", options.settings,
                   "The operator's settings file: the device list for /targets and the local "
                   "address chosen in the program (never written). Default: the file "
                   "corvane-control beside corvane_exporter uses")
        ->type_name("FILE")
        ->check(CLI::ExistingFile.description(""));
}

// What is probed and how much at once.
void addProbeOptions(CLI::App& app, Options& options) {
    app.add_option("--from", options.from,
                   "The local address to send from. Default: the one chosen in the program, "
                   "else the only usable one")
        ->type_name("ADDRESS")
        ->check(CLI::Validator(
            [](std::string& text) {
                return Ipv4Address::parse(text) ? std::string()
                                                : "'" + text +
                                                      "' is not an IPv4 address (four numbers "
                                                      "0-255 joined by dots)";
            },
            ""));
    app.add_flag("--allow-any-target", options.allowAnyTarget,
                 "Probe module addresses outside this computer's subnets too (modules behind a "
                 "router)");
    app.add_option("--probe.max-in-flight", options.maxProbes,
                   "Probes at most at once; one more is answered 503 at once and counted")
        ->type_name("N")
        ->capture_default_str()
        ->check(CLI::Range(std::size_t{1}, kMostProbes));
    app.add_option("--discovery.max-age", options.discoveryMaxAge,
                   "Seconds a search's result answers /targets?discover=1 again before the next "
                   "search (0: a search for each request; requests at once share one)")
        ->type_name("SECONDS")
        ->capture_default_str()
        ->check(CLI::Range(0u, kMostDiscoveryMaxAge));
    app.add_option("--discovery.max-replies", options.searchReplies,
                   "Modules a search keeps at most; replies from further MAC addresses are dropped")
        ->type_name("N")
        ->capture_default_str()
        ->check(CLI::Range(std::size_t{1}, kMostSearchReplies));
    app.add_option("--stream.max-destinations", options.streamDestinations,
                   "Output destinations watched at most at once for /probe?module=stream; more "
                   "are not joined and show as corvane_stream_unwatched_info")
        ->type_name("N")
        ->capture_default_str()
        ->check(CLI::Range(std::size_t{1}, kMostStreamDestinations));
}

void addOptions(CLI::App& app, Options& options) {
    addServingOptions(app, options);
    addProbeOptions(app, options);
}

// Every probe in flight keeps two sockets and every connection one: the usual soft
// limit of 1024 open files is too low for the largest --probe.max-in-flight.
void raiseOpenFiles(const HttpLimits& limits, std::size_t maxProbes, std::size_t streams) {
    const std::uint64_t wanted = 2 * maxProbes + streams + limits.workerThreads +
                                 limits.maxWaitingConnections + kOtherOpenFiles;
    std::string error;
    const auto limit = raiseOpenFileLimit(wanted, error);
    if (!limit) {
        logLine(LogLevel::warn, error);
    } else if (*limit < wanted) {
        logLine(LogLevel::warn, "the limit on open files is " + std::to_string(*limit) +
                                    " (the hard limit), below the " + std::to_string(wanted) +
                                    " that --probe.max-in-flight " + std::to_string(maxProbes) +
                                    " may need; probes then wait for sockets");
    }
}

// The local address to send from, as corvanectl chooses it.
SourceChoice chooseSource(const Options& options, const SettingsLocation& location) {
    std::optional<Ipv4Address> requested;
    if (options.from) {
        requested = Ipv4Address::parse(*options.from);
    }
    std::string settingsProblem;
    SourceChoice choice = chooseFrontEndSource(requested, location, settingsProblem);
    if (!settingsProblem.empty()) {
        throw StartError(kExitFailure, settingsProblem);
    }
    if (!choice.chosen()) {
        throw StartError(
            choice.status == SourceChoiceStatus::noneUsable ? kExitFailure : kExitUsage,
            sourceChoiceProblem(choice));
    }
    return choice;
}

std::string reasonText(SourceChoiceReason reason) {
    switch (reason) {
        case SourceChoiceReason::requested:
            return "--from";
        case SourceChoiceReason::stored:
            return "chosen in the program";
        case SourceChoiceReason::onlyUsable:
            return "the only usable address";
        case SourceChoiceReason::firstUsable:  // the window's rule, never asked for here
            return "the first usable address";
    }
    return {};
}

// Waits for SIGTERM or SIGINT (blocked in every thread) and stops the server, again until
// it has stopped: a signal that comes before it listens must not be lost.
void watchSignals(GuardedServer& server, const std::atomic<bool>& finished) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    const timespec poll{0, 200'000'000};
    bool stopping = false;
    while (!finished) {
        const int signal = sigtimedwait(&signals, nullptr, &poll);
        if (signal > 0 && !stopping) {
            logLine(LogLevel::info, std::string("received ") +
                                        (signal == SIGTERM ? "SIGTERM" : "SIGINT") +
                                        ": no new connections; letting the probes in flight end");
            stopping = true;
        }
        if (stopping) {
            server.stop();
        }
    }
}

int serve(const Options& options) {
    const ListenAddress listen = *parseListenAddress(options.listen);
    const SettingsLocation location = frontEndSettingsLocation(executablePath(), options.settings);
    const SourceChoice source = chooseSource(options, location);

    WebConfigStore web(options.webConfig);
    std::string problem;
    if (!web.load(problem)) {
        throw StartError(kExitFailure, "the web configuration is not valid: " + problem);
    }
    SiteDeviceList site(location);
    const auto list = site.current();  // logs when it cannot be read

    HttpLimits limits;
    limits.workerThreads = options.maxProbes + kSpareWorkers;
    limits.maxWaitingConnections = limits.workerThreads;
    limits.maxConnectionsPerClient = limits.workerThreads - kWorkersForOthers;
    raiseOpenFiles(limits, options.maxProbes, options.streamDestinations);
    ProbeService prober(source.address, options.maxProbes,
                        {std::chrono::seconds(options.discoveryMaxAge), options.searchReplies});
    StreamWatch streams({options.streamDestinations}, monitorOpener(source.address.address));
    streams.start();
    GuardedServer server(limits, [&web] { return web.current()->tls; });
    ExporterRoutes routes(
        prober, site, web,
        {options.listen, options.allowAnyTarget, list->path, reasonText(source.reason)}, streams);
    routes.install(server);
    errno = 0;
    if (!server.bind_to_port(listen.host, listen.port)) {
        const int error = errno;
        throw StartError(kExitFailure, "cannot listen on " + options.listen + ": " +
                                           (error == EADDRINUSE ? "address in use"
                                            : error != 0        ? std::strerror(error)
                                                                : "the address cannot be bound"));
    }
    logLine(LogLevel::info, std::string("listening on ") + options.listen +
                                (web.current()->tls ? " (TLS)" : "") + "; sending from " +
                                source.address.address.text() + " (" + reasonText(source.reason) +
                                "); device list from " + list->path);

    std::atomic<bool> finished{false};
    std::thread signals([&] { watchSignals(server, finished); });
    const bool listened = server.listen_after_bind();
    finished = true;
    signals.join();
    prober.stop();  // the probes in flight have been answered by now; nothing new comes
    if (!listened) {
        logLine(LogLevel::error, "the listening socket failed");
        return kExitFailure;
    }
    logLine(LogLevel::info, "stopped");
    return 0;
}

int run(int argc, char** argv) {
    CLI::App app(
        "Reads the status of broadcast head-end modules for Prometheus: one module per "
        "scrape of /probe?target=A.B.C.D, with service discovery from the operator's device "
        "list.",
        "corvane_exporter");
    app.set_version_flag("--version", std::string("corvane_exporter ") + CORVANE_VERSION);
    app.footer(kFooter);
    Options options;
    addOptions(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "corvane_exporter: " << e.what()
                  << "\nRun 'corvane_exporter --help' for usage.\n";
        return kExitUsage;
    }
    try {
        return serve(options);
    } catch (const StartError& e) {
        logLine(LogLevel::error, e.what());
        return e.status();
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Signals are taken by one thread (watchSignals); every thread made from here on
    // inherits the mask. A peer that closes while we write must not end the process.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {  // out of memory, no eventfd, and the like
        logLine(LogLevel::error, e.what());
        return kExitFailure;
    }
}
