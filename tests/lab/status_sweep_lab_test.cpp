// The status sweep against one rack of simulated modules shared by every case: each
// result decoded right, each module asked exactly once on each port with the exact
// request (a repeated address too), and the whole sweep within its deadlines.
#include <cmath>
#include <map>
#include <memory>
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
constexpr std::uint32_t kSlow = 35;
// Modules that leave their exchange waiting to its deadline: the silent ones and kShort.
constexpr int kWaitingToTheEnd = 6;

bool isSilent(std::uint32_t n) {
    return n % 8 == 0;
}

std::string number(std::uint32_t n) {
    return std::to_string(n);
}

// Every module reports different values, so that one module's reply given to another
// target shows.
std::string moduleLine(std::uint32_t n, const std::string& ip) {
    std::string line = "mac=02:00:00:00:07:" + std::string(n < 10 ? "0" : "") + number(n) +
                       " ip=" + ip + " protocol=" + number(n % 3) + " mode=" + number(n % 2 * 3) +
                       " port=" + number(5000 + n) + " dest=239.2.0." + number(n) +
                       " flags=" + number(0x1200 + n % 4 * 0x10) + " aux1=" + number(0xA000 + n) +
                       " auxaddr=10.9.0." + number(n) + " aux2=" + number(0xB000 + n) +
                       " auxb1=" + number(n) + " byte27=90 auxb2=" + number(n + 1) +
                       " auxb3=" + number(n + 2);
    if (n == kMultiStream) {
        line += " out=0x1101,239.7.7.7,1234,0x1203,0xBEEF in=0x2100,10.1.1.1,5000";
    }
    line += isSilent(n) ? " silent=1" : "";
    line += n == kWrongTag ? " wrong-tag=1" : "";
    line += n == kShort ? " short=7" : "";
    line += n == kOnlyPortB ? " ports=9101" : "";
    line += n == kSlow ? " delay=300" : "";
    return line + "\n";
}

StatusOutcome expectedOutcome(std::uint32_t n) {
    if (isSilent(n)) {
        return StatusOutcome::timeout;
    }
    if (n == kShort) {
        return StatusOutcome::shortReply;
    }
    return n == kWrongTag ? StatusOutcome::unexpectedReply : StatusOutcome::answered;
}

StreamSettings expectedSettings(std::uint32_t n) {
    StreamSettings s;
    if (expectedOutcome(n) != StatusOutcome::answered) {
        return s;
    }
    if (n == kMultiStream) {
        s.outputCount = 1;
        s.outputs[0] = OutputEntry{0x1101, storedIpv4("239.7.7.7"), 1234, 0xBEEF, 0x1203, {}};
        s.inputCount = 1;
        s.inputs[0] = InputEntry{0x2100, storedIpv4("10.1.1.1"), 5000, {}};
        return s;
    }
    s.protocol = static_cast<std::uint8_t>(n % 3);
    s.mode = static_cast<std::uint8_t>(n % 2 * 3);
    s.destinationPort = static_cast<std::uint16_t>(5000 + n);
    s.destinationIp = storedIpv4("239.2.0." + number(n));
    s.flagWord = 0x1200;
    s.flags = static_cast<std::uint8_t>(n % 4);
    s.auxWord1 = static_cast<std::uint16_t>(0xA000 + n);
    s.auxAddress = storedIpv4("10.9.0." + number(n));
    s.auxWord2 = static_cast<std::uint16_t>(0xB000 + n);
    s.auxByte1 = static_cast<std::uint8_t>(n);
    s.auxByte2 = static_cast<std::uint8_t>(n + 1);
    s.auxByte3 = static_cast<std::uint8_t>(n + 2);
    return s;
}

Bytes recordBytes(const StreamSettings& s) {
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&s);
    return Bytes(raw, raw + sizeof s);
}

double monotonicMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class StatusSweepLab : public LabTest {
protected:
    static void SetUpTestSuite() {
        LabEnvironment lab;
        if (!LabEnvironment::load(lab, s_error)) {
            return;  // each case skips with the reason
        }
        std::string config;
        for (std::uint32_t n = 1; n <= kModules; ++n) {
            config += moduleLine(n, lab.segments[0].moduleAddress(n));
        }
        s_rack = std::make_unique<ModsimProcess>();
        if (!s_rack->start(lab, lab.segments[0], {}, config, s_error)) {
            s_rack.reset();
        }
    }
    static void TearDownTestSuite() { s_rack.reset(); }

    static std::unique_ptr<ModsimProcess> s_rack;
    static std::string s_error;
};

std::unique_ptr<ModsimProcess> StatusSweepLab::s_rack;
std::string StatusSweepLab::s_error;

TEST_F(StatusSweepLab, EveryModuleReadOnceAndRight) {
    ASSERT_NE(s_rack, nullptr) << s_error;
    struct Row {
        const char* name;
        std::size_t maxInFlight;
        int waitMs;
    };
    const Row rows[] = {{"64 in flight, 3 s each", 64, 3000}, {"4 in flight, 400 ms each", 4, 400}};
    // Every module, then three of them again: one answering, one silent, the multi-stream one.
    std::vector<std::uint32_t> numbers;
    for (std::uint32_t n = 1; n <= kModules; ++n) {
        numbers.push_back(n);
    }
    numbers.insert(numbers.end(), {3, 8, kMultiStream});
    std::vector<std::uint32_t> targets;
    for (std::uint32_t n : numbers) {
        targets.push_back(moduleIp(n));
    }
    const Bytes request = concat({tagBytes("WiZnAsGt"), zeros(18)});

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const double startMs = monotonicMs();
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
        const double rounds = std::ceil(double{kWaitingToTheEnd} / double(row.maxInFlight));
        EXPECT_GE(ms, row.waitMs) << "silent modules are given their whole wait";
        EXPECT_LE(ms, rounds * row.waitMs + 1500);

        const auto sent = s_rack->waitForLog(
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
