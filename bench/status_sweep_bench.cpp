// Figures for the status sweep against racks of simulated modules in the network lab:
// wall and CPU time of one sweep of 128 or 1000 modules with some of them silent, at
// the default 64 exchanges in flight and with every module in flight at once, under a
// junk flood, and with a descriptor limit too low for all of them. Prints a table;
// asserts nothing.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "lab/lab_environment.h"
#include "net/status_sweep.h"

using namespace corvane;
using namespace corvane::lab;
using corvane::bench::cpuMs;
using corvane::bench::nowMs;

namespace {

constexpr int kFloodPerSecond = 3000;

struct Scenario {
    int modules;
    int silent;
    std::size_t maxInFlight;
    bool flood;
    rlim_t descriptorLimit;  // 0: the process's own
};

struct Figures {
    int answered = 0;
    int timeouts = 0;
    int others = 0;
    double wallMs = 0;
    double cpuMs = 0;
};

// The silent modules spread evenly over the rack (1-based numbers).
std::vector<std::string> silentArguments(int modules, int silent) {
    std::vector<std::string> arguments;
    for (int k = 0; k < silent; ++k) {
        arguments.insert(arguments.end(),
                         {"--set", std::to_string(1 + k * modules / silent) + " silent=1"});
    }
    return arguments;
}

Figures sweepOnce(const LocalAddress& local, const std::vector<Ipv4Address>& targets,
                  const SweepOptions& options) {
    Figures figures;
    StatusSweep sweep(local, options);
    for (Ipv4Address ip : targets) {
        SweepTarget target;
        target.deviceIp = ip;
        target.onResult = [&figures](const StatusReading& reading) {
            figures.answered += reading.outcome == StatusOutcome::answered ? 1 : 0;
            figures.timeouts += reading.outcome == StatusOutcome::timeout ? 1 : 0;
            figures.others += reading.outcome != StatusOutcome::answered &&
                                      reading.outcome != StatusOutcome::timeout
                                  ? 1
                                  : 0;
        };
        sweep.add(std::move(target));
    }
    const double cpuStart = cpuMs();
    const double start = nowMs();
    while (!sweep.idle()) {
        sweep.runOnce(std::chrono::milliseconds(kPassWaitMs));
    }
    figures.wallMs = nowMs() - start;
    figures.cpuMs = cpuMs() - cpuStart;
    return figures;
}

bool run(const LabEnvironment& lab, const LocalAddress& local, const Scenario& scenario) {
    const LabSegment& segment = lab.segments[0];
    std::vector<std::string> arguments = {"--modules", std::to_string(scenario.modules),
                                          "--base-ip", segment.moduleAddress(1)};
    const auto silent = silentArguments(scenario.modules, scenario.silent);
    arguments.insert(arguments.end(), silent.begin(), silent.end());
    if (scenario.flood) {
        arguments.insert(arguments.end(),
                         {"--flood", std::to_string(kFloodPerSecond), "--flood-target",
                          segment.programAddress, "--flood-source", segment.modulesSideAddress});
    }
    ModsimProcess modsim;
    std::string error;
    if (!modsim.start(lab, segment, arguments, "", error)) {
        std::fprintf(stderr, "status_sweep_bench: %s\n", error.c_str());
        return false;
    }
    std::vector<Ipv4Address> targets;
    for (int n = 1; n <= scenario.modules; ++n) {
        targets.push_back(ipv4Of(segment.moduleAddress(static_cast<std::uint32_t>(n))));
    }
    rlimit saved{};
    if (getrlimit(RLIMIT_NOFILE, &saved) != 0) {
        std::perror("status_sweep_bench: getrlimit");
        return false;
    }
    if (scenario.descriptorLimit != 0) {
        rlimit lowered = saved;
        lowered.rlim_cur = scenario.descriptorLimit;
        if (setrlimit(RLIMIT_NOFILE, &lowered) != 0) {
            std::perror("status_sweep_bench: setrlimit");
            return false;
        }
    }
    const Figures f = sweepOnce(local, targets, SweepOptions{scenario.maxInFlight, kExchangeWait});
    if (scenario.descriptorLimit != 0 && setrlimit(RLIMIT_NOFILE, &saved) != 0) {
        std::perror("status_sweep_bench: setrlimit");
        return false;
    }
    const int answering = scenario.modules - scenario.silent;
    std::printf(
        "| %d | %d | %zu | %s | %s | %d | %d | %d | %d | %.0f | %.0f |\n", scenario.modules,
        scenario.silent, scenario.maxInFlight, scenario.flood ? "3000/s" : "-",
        scenario.descriptorLimit != 0 ? std::to_string(scenario.descriptorLimit).c_str() : "-",
        f.answered, answering - f.answered, f.timeouts, f.others, f.wallMs, f.cpuMs);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main() {
    LabEnvironment lab;
    std::string reason;
    if (!LabEnvironment::load(lab, reason)) {
        std::fprintf(stderr, "status_sweep_bench: %s\n", reason.c_str());
        return 77;
    }
    const LocalAddress local{ipv4Of(lab.segments[0].programAddress),
                             ipv4Of(lab.segments[0].programMask), 0};
    std::printf("## One status sweep\n\n");
    std::printf(
        "| modules | silent | in flight | junk flood | descriptor limit | answered | replies lost "
        "| timeouts | other outcomes | wall ms | CPU ms |\n"
        "|---|---|---|---|---|---|---|---|---|---|---|\n");
    const std::vector<std::pair<int, int>> racks = {{128, 0}, {128, 20}, {128, 128}, {1000, 100}};
    for (bool flood : {false, true}) {
        for (std::size_t inFlight : {kSweepMaxInFlight, std::size_t{1024}}) {
            for (const auto& [modules, silent] : racks) {
                if (!run(lab, local, Scenario{modules, silent, inFlight, flood, 0})) {
                    return 1;
                }
            }
        }
    }
    // Too few descriptors for 1000 exchanges in flight: the sweep waits for them.
    return run(lab, local, Scenario{1000, 100, 1024, false, 256}) ? 0 : 1;
}
