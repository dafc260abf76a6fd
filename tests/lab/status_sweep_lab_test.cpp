// The status sweep against one rack of simulated modules shared by every case: each
// result decoded right, each module asked exactly once on each port with the exact
// request (a repeated address too), and the whole sweep within its deadlines.
#include <cmath>
#include <map>
#include <numeric>
#include <set>

#include "lab/lab_test_support.h"
#include "net/status_sweep.h"
#include "packed_value.h"

namespace corvane::lab {
namespace {

constexpr std::uint32_t kModules = 40;
constexpr std::uint32_t kMultiStream = 7;
constexpr std::uint32_t kWrongTag = 13;
constexpr std::uint32_t kShort = 21;
constexpr std::uint32_t kOnlyPortB = 30;
constexpr double kWaitingToTheEnd = 6;  // the silent modules and kShort

bool isSilent(std::uint32_t n) {
    return n % 8 == 0;
}

// Each module reports its own values, so that a reply handed to the wrong target shows.
std::string moduleLine(std::uint32_t n, const std::string& ip) {
    const std::string number = std::to_string(n);
    std::string line = "mac=02:00:00:00:07:" + std::string(n < 10 ? "0" : "") + number +
                       " ip=" + ip + " protocol=" + std::to_string(n % 3) +
                       " mode=" + std::to_string(n % 2 * 3) + " port=" + std::to_string(5000 + n) +
                       " dest=239.2.0." + number + " flags=" + std::to_string(0x1200 + n % 4 * 16) +
                       " auxaddr=10.9.0." + number;
    line +=
        n == kMultiStream ? " out=0x1101,239.7.7.7,1234,0x1203,0xBEEF in=0x2100,10.1.1.1,5000" : "";
    line += isSilent(n) ? " silent=1" : "";
    line += n == kWrongTag ? " wrong-tag=1" : "";
    line += n == kShort ? " short=7" : "";
    return line + (n == kOnlyPortB ? " ports=9101\n" : "\n");
}

StatusOutcome expectedOutcome(std::uint32_t n) {
    return isSilent(n)      ? StatusOutcome::timeout
           : n == kShort    ? StatusOutcome::shortReply
           : n == kWrongTag ? StatusOutcome::unexpectedReply
                            : StatusOutcome::answered;
}

Bytes recordBytes(const StreamSettings& s) {
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&s);
    return Bytes(raw, raw + sizeof s);
}

// Compared as whole records: every field not set here must come back zero.
StreamSettings expectedSettings(std::uint32_t n) {
    StreamSettings s;
    if (n == kMultiStream) {
        s.outputCount = 1;
        s.outputs[0] = OutputEntry{0x1101, storedIpv4("239.7.7.7"), 1234, 0xBEEF, 0x1203, {}};
        s.inputCount = 1;
        s.inputs[0] = InputEntry{0x2100, storedIpv4("10.1.1.1"), 5000, {}};
    } else if (expectedOutcome(n) == StatusOutcome::answered) {
        s.protocol = static_cast<std::uint8_t>(n % 3);
        s.mode = static_cast<std::uint8_t>(n % 2 * 3);
        s.destinationPort = static_cast<std::uint16_t>(5000 + n);
        s.destinationIp = storedIpv4("239.2.0." + std::to_string(n));
        s.flagWord = 0x1200;
        s.flags = static_cast<std::uint8_t>(n % 4);
        s.auxAddress = storedIpv4("10.9.0." + std::to_string(n));
    }
    return s;
}

class StatusSweepLab : public LabTest {};

TEST_F(StatusSweepLab, EveryModuleReadOnceAndRight) {
    std::string config;
    for (std::uint32_t n = 1; n <= kModules; ++n) {
        config += moduleLine(n, moduleText(n));
    }
    ModsimProcess rack;  // one rack for every row
    startModsim(rack, {}, config);
    struct Row {
        const char* name;
        std::size_t maxInFlight;
        int waitMs;
    };
    const Row rows[] = {{"64 in flight, 3 s each", 64, 3000}, {"4 in flight, 400 ms each", 4, 400}};
    // Every module, then three of them again: one answering, one silent, the multi-stream one.
    std::vector<std::uint32_t> numbers(kModules);
    std::iota(numbers.begin(), numbers.end(), 1);
    numbers.insert(numbers.end(), {3, 8, kMultiStream});
    std::vector<Ipv4Address> targets;
    for (std::uint32_t n : numbers) {
        targets.push_back(moduleIp(n));
    }
    const Bytes request = concat({tagBytes("WiZnAsGt"), zeros(18)});

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // The simulator logs in milliseconds of the same monotonic clock.
        const double startMs = std::chrono::duration<double, std::milli>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count();
        std::vector<int> reports(targets.size(), 0);
        const double ms = timedMs([&] {
            sweepStatus(
                local(), targets,
                SweepOptions{row.maxInFlight, std::chrono::milliseconds(row.waitMs)},
                [&](std::size_t index, const StatusReading& r) {
                    const std::uint32_t n = numbers[index];
                    ++reports[index];
                    EXPECT_EQ(r.deviceIp, targets[index]);
                    EXPECT_EQ(statusOutcomeName(r.outcome), statusOutcomeName(expectedOutcome(n)))
                        << "module " << n;
                    EXPECT_EQ(recordBytes(r.settings), recordBytes(expectedSettings(n)))
                        << "module " << n;
                });
        });
        EXPECT_EQ(reports, std::vector<int>(targets.size(), 1)) << "each target reported once";
        const double rounds = std::ceil(kWaitingToTheEnd / double(row.maxInFlight));
        EXPECT_GE(ms, row.waitMs) << "silent modules are given their whole wait";
        EXPECT_LE(ms, rounds * row.waitMs + 1500);

        const auto sent = rack.waitForLog(
            [&](const LoggedDatagram& d) { return d.timeMs >= startMs && isFrom(d, "WiZnAsGt"); },
            2 * kModules, 2000);
        std::map<std::string, std::set<int>> portsByModule;
        for (const LoggedDatagram& d : sent) {
            EXPECT_EQ(d.bytes, request);
            EXPECT_EQ(d.source, segment().programAddress);
            EXPECT_EQ(d.sourcePort, packed(d.destinationPort));
            EXPECT_TRUE(portsByModule[d.destination].insert(d.destinationPort).second)
                << d.destination << " asked twice on port " << d.destinationPort;
        }
        EXPECT_EQ(sent.size(), 2 * kModules);
        EXPECT_EQ(portsByModule.size(), kModules);
        for (const auto& [module, ports] : portsByModule) {
            EXPECT_EQ(ports, (std::set<int>{9100, 9101})) << module;
        }
    }
}

}  // namespace
}  // namespace corvane::lab
