// Figures for the device datagram protocol against simulated modules in the network
// lab: search duration and completeness for racks of 1, 128 and 1000 modules, status
// round-trip times, a row of 128 status reads, and the CPU time of an exchange that
// times out. Prints a table; asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "lab/lab_environment.h"
#include "net/device_search.h"
#include "net/stream_settings_messages.h"

using namespace corvane;
using namespace corvane::lab;
using corvane::bench::cpuMs;
using corvane::bench::nowMs;

namespace {

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

struct Bench {
    LabEnvironment lab;
    LocalAddress local{};

    bool startRack(ModsimProcess& modsim, int count, const char* ports, int spreadMs,
                   const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments = {"--modules",      std::to_string(count),
                                              "--base-ip",      lab.segments[0].moduleAddress(1),
                                              "--ports",        ports,
                                              "--delay-spread", std::to_string(spreadMs)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::string error;
        if (!modsim.start(lab, lab.segments[0], arguments, "", error)) {
            std::fprintf(stderr, "net_lab_bench: %s\n", error.c_str());
            return false;
        }
        return true;
    }

    void search() {
        std::printf("## One search (class 3)\n\n");
        std::printf(
            "| modules | ports | reply spread ms | found | duration ms |\n|---|---|---|---|---|\n");
        for (int count : {1, 128, 1000}) {
            for (const char* ports : {"both", "9100"}) {
                for (int spread : {0, 1500}) {
                    ModsimProcess modsim;
                    if (!startRack(modsim, count, ports, spread)) {
                        return;
                    }
                    std::vector<DeviceHello> found;
                    const double start = nowMs();
                    searchDevices(local, 3, found);
                    std::printf("| %d | %s | %d | %zu | %.0f |\n", count, ports, spread,
                                found.size(), nowMs() - start);
                    std::fflush(stdout);
                }
            }
        }
    }

    void statusRoundTrips() {
        std::printf("\n## 1000 status reads of one module\n\n");
        std::printf("| module answers on | median ms | p99 ms | failures |\n|---|---|---|---|\n");
        for (const char* ports : {"9100", "9101"}) {
            ModsimProcess modsim;
            if (!startRack(modsim, 1, ports, 0)) {
                return;
            }
            const Ipv4Address ip = ipv4Of(lab.segments[0].moduleAddress(1));
            std::vector<double> times;
            int failures = 0;
            for (int i = 0; i < 1000; ++i) {
                StreamSettings settings;
                const double start = nowMs();
                failures += getStreamSettings(local, ip, settings) ? 0 : 1;
                times.push_back(nowMs() - start);
            }
            std::printf("| %s | %.3f | %.3f | %d |\n", ports, percentile(times, 0.5),
                        percentile(times, 0.99), failures);
        }
    }

    void statusRow() {
        std::printf("\n## 128 status reads in a row (one per module)\n\n");
        ModsimProcess modsim;
        if (!startRack(modsim, 128, "both", 0)) {
            return;
        }
        int answered = 0;
        const double start = nowMs();
        for (std::uint32_t n = 1; n <= 128; ++n) {
            StreamSettings settings;
            answered +=
                getStreamSettings(local, ipv4Of(lab.segments[0].moduleAddress(n)), settings);
        }
        std::printf("| answered | total ms |\n|---|---|\n| %d | %.0f |\n", answered,
                    nowMs() - start);
    }

    void timeoutCpu() {
        std::printf("\n## An exchange that times out (silent module)\n\n");
        ModsimProcess modsim;
        if (!startRack(modsim, 1, "both", 0, {"--set", "1 silent=1"})) {
            return;
        }
        StreamSettings settings;
        const double cpuStart = cpuMs();
        const double start = nowMs();
        const bool ok =
            getStreamSettings(local, ipv4Of(lab.segments[0].moduleAddress(1)), settings);
        const double wall = nowMs() - start;
        const double cpu = cpuMs() - cpuStart;
        std::printf("| result | wall ms | CPU ms | CPU share of one core |\n|---|---|---|---|\n");
        std::printf("| %s | %.0f | %.1f | %.2f %% |\n", ok ? "true" : "false", wall, cpu,
                    100.0 * cpu / wall);
    }
};

}  // namespace

int main() {
    Bench bench;
    std::string reason;
    if (!LabEnvironment::load(bench.lab, reason)) {
        std::fprintf(stderr, "net_lab_bench: %s\n", reason.c_str());
        return 77;
    }
    bench.local = LocalAddress{ipv4Of(bench.lab.segments[0].programAddress),
                               ipv4Of(bench.lab.segments[0].programMask), 0};
    bench.search();
    bench.statusRoundTrips();
    bench.statusRow();
    bench.timeoutCpu();
    return 0;
}
