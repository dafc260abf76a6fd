// Figures for corvane_exporter under load in the network lab: 50 clients probing a rack
// of 1000 simulated modules (some silent) through /probe at once, as a central Prometheus
// scraping a large site would. Every module is probed once per round; the table says how
// many answering modules were reported answering (none may be lost), how the silent ones
// ended, how many probes were refused, how long a round took and the exporter's resident
// memory. The rack's consecutive addresses include six that end in .0 or .255; the
// exporter refuses those (400) as no module may have them. Prints a table; asserts nothing.
#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_clock.h"
#include "lab/exporter_lab_support.h"

using namespace corvane;
using namespace corvane::lab;
using corvane::bench::nowMs;

namespace {

constexpr int kModules = 1000;
constexpr int kSilent = 100;
constexpr int kClients = 50;
constexpr int kRounds = 3;

struct Round {
    std::atomic<int> answered{0};
    std::atomic<int> silentReported{0};  // success 0 from a silent module
    std::atomic<int> lost{0};            // success 0 from an answering module
    std::atomic<int> notModule{0};       // 400: the rack holds .0 and .255 addresses
    std::atomic<int> busy{0};            // 503: over the limit of probes in flight
    std::atomic<int> other{0};           // any other status
    std::atomic<int> failed{0};          // no answer at all
};

bool isSilent(int n) {
    return (n - 1) % (kModules / kSilent) == 0;  // 1, 11, 21, ...: spread over the rack
}

void client(int port, const LabSegment& segment, std::atomic<int>& next, Round& round) {
    httplib::Client http("127.0.0.1", port);
    http.set_read_timeout(30, 0);
    for (int n; (n = next++) <= kModules;) {
        const auto result = http.Get("/probe?target=" + segment.moduleAddress(n));
        if (!result) {
            ++round.failed;
        } else if (result->status == 400) {
            ++round.notModule;
        } else if (result->status == 503) {
            ++round.busy;
        } else if (result->status != 200) {
            ++round.other;
        } else if (result->body.find("corvane_probe_success 1\n") != std::string::npos) {
            ++round.answered;
        } else {
            ++(isSilent(n) ? round.silentReported : round.lost);
        }
    }
}

// The exporter's resident set now, and at most so far (VmRSS, VmHWM), in MiB.
std::pair<double, double> residentMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    double now = 0, peak = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            now = std::stod(line.substr(6)) / 1024;
        } else if (line.rfind("VmHWM:", 0) == 0) {
            peak = std::stod(line.substr(6)) / 1024;
        }
    }
    return {now, peak};
}

}  // namespace

int main() {
    LabEnvironment lab;
    std::string reason;
    if (!LabEnvironment::load(lab, reason)) {
        std::fprintf(stderr, "SKIP: %s\n", reason.c_str());
        return 77;
    }
    const char* program = std::getenv("CORVANE_EXPORTER");
    if (program == nullptr) {
        std::fprintf(stderr, "CORVANE_EXPORTER names the corvane_exporter to measure\n");
        return 2;
    }
    const LabSegment& segment = lab.segments.front();
    std::vector<std::string> arguments = {"--modules", std::to_string(kModules), "--base-ip",
                                          segment.moduleAddress(1)};
    for (int n = 1; n <= kModules; ++n) {
        if (isSilent(n)) {
            arguments.insert(arguments.end(), {"--set", std::to_string(n) + " silent=1"});
        }
    }
    ModsimProcess modsim;
    std::string error;
    if (!modsim.start(lab, segment, arguments, "", error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    char folder[] = "/tmp/exporter-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        return 1;
    }
    const std::string settings = std::string(folder) + "/corvane-control.ini";
    std::ofstream(settings) << "[List]\nTotal=0\n";
    ExporterProcess exporter;
    if (!exporter.start(program, {"--settings", settings, "--from", segment.programAddress},
                        std::string(folder) + "/exporter.log", error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const auto [idle, idlePeak] = residentMiB(exporter.pid());
    std::printf("exporter resident at start: %.1f MiB\n\n", idle);
    std::printf("| round | modules | silent | clients | answered | answering lost | silent reported "
                "| 400 not a module address | 503 | other | no answer | wall s | probes/s "
                "| resident MiB | peak MiB |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (int r = 1; r <= kRounds; ++r) {
        Round round;
        std::atomic<int> next{1};
        const double start = nowMs();
        std::vector<std::thread> clients;
        for (int c = 0; c < kClients; ++c) {
            clients.emplace_back(client, exporter.port(), std::cref(segment), std::ref(next),
                                 std::ref(round));
        }
        for (std::thread& thread : clients) {
            thread.join();
        }
        const double seconds = (nowMs() - start) / 1000;
        const auto [resident, peak] = residentMiB(exporter.pid());
        std::printf(
            "| %d | %d | %d | %d | %d | %d | %d | %d | %d | %d | %d | %.1f | %.0f | %.1f | %.1f |\n",
            r, kModules, kSilent, kClients, round.answered.load(), round.lost.load(),
            round.silentReported.load(), round.notModule.load(), round.busy.load(),
            round.other.load(), round.failed.load(), seconds, kModules / seconds, resident, peak);
        std::fflush(stdout);
    }
    const int status = exporter.stop();
    std::printf("\nexporter exit status after SIGTERM: %d\n", status);
    std::filesystem::remove_all(folder);
    return 0;
}
