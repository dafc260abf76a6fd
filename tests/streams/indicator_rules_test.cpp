// The counting rule of each first-priority indicator, on synthesized packets with
// scripted arrival times: one table row per case, the six counters compared whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "streams/ts_checks.h"
#include "ts_builder.h"

namespace corvane {
namespace {

using test::at;
using test::Packet;
using test::PacketFields;
using test::tsPacket;

struct Arrival {
    int ms;
    Packet packet;
};

struct Row {
    std::string name;
    std::vector<Arrival> arrivals;
    int nowMs;
    IndicatorCounts expected;
};

IndicatorCounts countsAfter(const std::vector<Arrival>& arrivals, int nowMs) {
    TransportStreamChecks checks;
    for (const Arrival& a : arrivals) {
        checks.packet(a.packet.data(), at(a.ms));
    }
    return checks.counts(at(nowMs));
}

// PID 0x100 packets carrying the given counters, one millisecond apart; the PAT
// arrives every 100 ms around them so that only the case's own indicator moves.
std::vector<Arrival> withPat(std::vector<Arrival> arrivals, int untilMs) {
    static const test::Bytes pat = test::patSection({});
    std::uint8_t cc = 0;
    for (int ms = 0; ms <= untilMs; ms += 100) {
        arrivals.push_back({ms, test::psiPacket(0, cc++ & 0x0F, pat)});
    }
    std::stable_sort(arrivals.begin(), arrivals.end(),
                     [](const Arrival& a, const Arrival& b) { return a.ms < b.ms; });
    return arrivals;
}

std::vector<Arrival> counters(const std::vector<int>& values, PacketFields base = {}) {
    std::vector<Arrival> out;
    int ms = 1;
    for (int value : values) {
        PacketFields fields = base;
        fields.cc = static_cast<std::uint8_t>((value >= 100 ? value - 100 : value) & 0x0F);
        fields.discontinuity = value >= 100;  // 100 + n: counter n with the indicator set
        out.push_back({ms++, tsPacket(fields)});
    }
    return out;
}

std::vector<Arrival> syncBytes(const std::string& pattern) {
    std::vector<Arrival> out;
    int ms = 1;
    std::uint8_t cc = 0;
    for (char c : pattern) {
        PacketFields fields;
        fields.pid = 0x1FFF;  // the null PID: no counter to disturb
        fields.cc = cc++ & 0x0F;
        fields.sync = c == 'g' ? 0x47 : 0x48;
        out.push_back({ms++, tsPacket(fields)});
    }
    return out;
}

IndicatorCounts sync(std::uint64_t losses, std::uint64_t byteErrors) {
    IndicatorCounts c;
    c.tsSyncLoss = losses;
    c.syncByteError = byteErrors;
    return c;
}

IndicatorCounts cc(std::uint64_t errors) {
    IndicatorCounts c;
    c.continuityCountError = errors;
    return c;
}

TEST(IndicatorRules, SyncAndContinuity) {
    PacketFields noPayload;
    noPayload.payload = false;
    PacketFields nullPid;
    nullPid.pid = 0x1FFF;
    const std::vector<Row> rows = {
        {"clean sync bytes", syncBytes("gggggggg"), 10, {}},
        {"one bad byte: an error, still in sync", syncBytes("gggbggg"), 10, sync(0, 1)},
        {"two bad in a row: sync lost, both counted", syncBytes("ggbbggggg"), 10, sync(1, 2)},
        {"out of sync, bad bytes are not counted", syncBytes("ggbbbbbbggggg"), 20, sync(1, 2)},
        {"regained after five good, then lost again", syncBytes("gbbgggggbbg"), 20, sync(2, 4)},
        {"four good are not enough to regain", syncBytes("gbbggggbgggggbg"), 20, sync(1, 3)},
        {"counters in order with wrap", withPat(counters({14, 15, 0, 1, 2}), 10), 10, {}},
        {"one repetition allowed", withPat(counters({3, 4, 4, 5}), 10), 10, {}},
        {"a second repetition is an error", withPat(counters({3, 4, 4, 4, 5}), 10), 10, cc(1)},
        {"a gap is one error, then counting goes on", withPat(counters({1, 2, 5, 6, 7}), 10), 10,
         cc(1)},
        {"two gaps", withPat(counters({1, 3, 4, 9}), 10), 10, cc(2)},
        {"first packet starts afresh", withPat(counters({9, 10}), 10), 10, {}},
        {"discontinuity indicator starts afresh", withPat(counters({1, 2, 107, 8}), 10), 10, {}},
        {"packets without payload are not counted",
         withPat(counters({1, 5, 9}, noPayload), 10),
         10,
         {}},
        {"the null PID is not counted", withPat(counters({1, 5, 9}, nullPid), 10), 10, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(countsAfter(row.arrivals, row.nowMs), row.expected);
    }
}

std::vector<Arrival> psiEvery(std::uint16_t pid, const test::Bytes& section,
                              const std::vector<int>& times) {
    std::vector<Arrival> out;
    std::uint8_t cc = 0;
    for (int ms : times) {
        out.push_back({ms, test::psiPacket(pid, cc++ & 0x0F, section)});
    }
    return out;
}

// All parts in time order, each PID's continuity counters renumbered in that order so
// that only the case's own indicator moves.
std::vector<Arrival> merged(std::vector<std::vector<Arrival>> parts) {
    std::vector<Arrival> all;
    for (auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const Arrival& a, const Arrival& b) { return a.ms < b.ms; });
    std::array<std::uint8_t, 0x2000> next{};
    for (Arrival& a : all) {
        const std::uint16_t pid =
            static_cast<std::uint16_t>((a.packet[1] & 0x1F) << 8 | a.packet[2]);
        a.packet[3] = static_cast<std::uint8_t>((a.packet[3] & 0xF0) | (next[pid]++ & 0x0F));
    }
    return all;
}

std::vector<int> every(int step, int from, int to) {
    std::vector<int> times;
    for (int ms = from; ms <= to; ms += step) {
        times.push_back(ms);
    }
    return times;
}

// Packets of one PID at the given times (the counters are set by merged()).
std::vector<Arrival> pids(std::uint16_t pid, const std::vector<int>& times) {
    std::vector<Arrival> out;
    for (int ms : times) {
        out.push_back({ms, tsPacket(PacketFields{pid})});
    }
    return out;
}

IndicatorCounts counts(std::uint64_t pat, std::uint64_t pmt, std::uint64_t pid) {
    IndicatorCounts c;
    c.patError = pat;
    c.pmtError = pmt;
    c.pidError = pid;
    return c;
}

TEST(IndicatorRules, PatPmtAndPidPresence) {
    const test::Bytes pat = test::patSection({{1, 0x100}});
    const test::Bytes pmt = test::pmtSection(1, 0x101, {{0x101, 0x02}, {0x102, 0x04}});
    const test::Bytes cat = test::section(0x01, 0xFFFF, 0, {});
    const test::Bytes emptyPat = test::patSection({});  // names no PMT to wait for
    PacketFields scrambledPat;
    scrambledPat.pid = 0;
    scrambledPat.scrambled = true;
    auto clean = [&](int to) {
        return merged({psiEvery(0, pat, every(100, 0, to)), psiEvery(0x100, pmt, every(100, 1, to)),
                       pids(0x101, every(40, 2, to)), pids(0x102, every(40, 3, to))});
    };
    const std::vector<Row> rows = {
        {"PAT and PMT every 100 ms, both PIDs present", clean(3000), 3050, {}},
        {"no PAT at all: one error at the end", merged({pids(0x101, every(40, 0, 2000))}), 2000,
         counts(1, 0, 0)},
        {"PAT gap of 0.5 s exactly is no error", psiEvery(0, emptyPat, {0, 500, 1000}), 1000, {}},
        {"two PAT gaps over 0.5 s", psiEvery(0, emptyPat, {0, 600, 700, 1300}), 1300,
         counts(2, 0, 0)},
        {"an open interval counts once, not again when the PAT comes",
         psiEvery(0, emptyPat, {0, 100, 2000}), 2000, counts(1, 0, 0)},
        {"another table id on PID 0",
         merged({psiEvery(0, emptyPat, every(100, 0, 1000)), psiEvery(0, cat, {250, 450})}), 1000,
         counts(2, 0, 0)},
        {"a scrambled PID 0 packet",
         merged({psiEvery(0, emptyPat, every(100, 0, 1000)), {{150, tsPacket(scrambledPat)}}}),
         1000, counts(1, 0, 0)},
        {"PMT missing for 1 s once, then back",
         merged({psiEvery(0, pat, every(100, 0, 3000)),
                 psiEvery(0x100, pmt, {1, 101, 201, 1201, 1301}),
                 psiEvery(0x100, pmt, every(100, 1401, 3000)), pids(0x101, every(40, 2, 3000)),
                 pids(0x102, every(40, 3, 3000))}),
         3050, counts(0, 1, 0)},
        {"PMT with another table id", merged({clean(1000), psiEvery(0x100, cat, {150})}), 1000,
         counts(0, 1, 0)},
        {"audio PID missing for 1.5 s mid-stream",
         merged({psiEvery(0, pat, every(100, 0, 3000)), psiEvery(0x100, pmt, every(100, 1, 3000)),
                 pids(0x101, every(40, 2, 3000)), pids(0x102, every(40, 3, 1000)),
                 pids(0x102, every(40, 2500, 3000))}),
         3050, counts(0, 0, 1)},
        {"audio PID never sent: one error once 1 s has passed",
         merged({psiEvery(0, pat, every(100, 0, 3000)), psiEvery(0x100, pmt, every(100, 1, 3000)),
                 pids(0x101, every(40, 2, 3000))}),
         3050, counts(0, 0, 1)},
        {"audio PID never sent, less than 1 s since the PMT named it",
         merged({psiEvery(0, pat, every(100, 0, 900)), psiEvery(0x100, pmt, every(100, 1, 900)),
                 pids(0x101, every(40, 2, 900))}),
         950,
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(countsAfter(row.arrivals, row.nowMs), row.expected);
    }
}

}  // namespace
}  // namespace corvane
