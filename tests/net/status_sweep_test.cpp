// The status sweep on a scripted kernel (fake_exchange_system.h): how each read ends,
// what its record of steps says, and how many reads run at once, share an address,
// wait for descriptors, stop on cancel and keep deadlines of their own.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "net/fake_exchange_system.h"
#include "net/status_sweep.h"
#include "packed_value.h"

namespace corvane {
namespace {

using std::chrono::milliseconds;
using test::Bytes;
using test::FakeDelivery;
using test::FakeExchangeSystem;
using test::FakeModule;
using test::ipv4;

const LocalAddress kLocal{ipv4(10, 0, 0, 1), ipv4(255, 255, 0, 0), 0};
constexpr milliseconds kWait{300};

std::uint32_t module(int n) {
    return ipv4(10, 0, 1, static_cast<std::uint8_t>(n));
}

// A single-form status reply whose destination port is `port`.
Bytes statusReply(std::uint16_t port, std::string_view tag = "WiZnStAs") {
    return test::taggedBytes(
        tag, {1, 3, static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port)}, 30);
}

FakeModule answersAfter(milliseconds after) {
    return FakeModule{{std::vector<FakeDelivery>{{after, statusReply(5000)}}, {}}, 0};
}

void runToIdle(StatusSweep& sweep) {
    while (!sweep.idle()) {
        sweep.runOnce(milliseconds(100));
    }
}

// "sent A 0, received B 5": each step, its socket and its time in milliseconds.
std::string traceText(const std::vector<ExchangeEvent>& trace) {
    std::string text;
    for (const ExchangeEvent& event : trace) {
        const auto ms = std::chrono::duration_cast<milliseconds>(event.offset).count();
        text += (text.empty() ? "" : ", ") + std::string(exchangeEventName(event.kind)) + " " +
                (event.socket == 0 ? "A " : "B ") + std::to_string(ms);
    }
    return text;
}

TEST(StatusSweep, HowOneReadEnds) {
    const int refused = ECONNREFUSED;
    struct Row {
        const char* name;
        FakeModule module;
        StatusOutcome outcome;
        long long ms;
        std::uint16_t port;  // decoded destination port (0: settings all zero)
        const char* trace;
    };
    const Row rows[] = {
        {"the first long-enough datagram is the reply",
         {{std::vector<FakeDelivery>{{milliseconds(5), statusReply(5000)}},
           {{milliseconds(8), statusReply(6000)}}}},
         StatusOutcome::answered,
         5,
         5000,
         "sent A 0, sent B 0, received A 5"},
        {"a datagram from another address never counts",
         {{std::vector<FakeDelivery>{{milliseconds(2), statusReply(6000), 0, ipv4(10, 0, 9, 9)},
                                     {milliseconds(5), statusReply(5000)}},
           {}}},
         StatusOutcome::answered,
         5,
         5000,
         "sent A 0, sent B 0, received A 5"},
        {"of two in the same pass, socket A's",
         {{std::vector<FakeDelivery>{{milliseconds(5), statusReply(5000)}},
           {{milliseconds(5), statusReply(6000)}}}},
         StatusOutcome::answered,
         5,
         5000,
         "sent A 0, sent B 0, received A 5"},
        {"datagrams shorter than a tag are ignored until the deadline",
         {{std::vector<FakeDelivery>{{milliseconds(5), Bytes(7, 'W')}},
           {{milliseconds(6), Bytes(7, 'W')}}}},
         StatusOutcome::shortReply,
         300,
         0,
         "sent A 0, sent B 0, received A 5, received B 6"},
        {"refused on both ports: the wait ends early",
         {{std::vector<FakeDelivery>{{milliseconds(2), {}, refused}},
           {{milliseconds(3), {}, EHOSTUNREACH}}}},
         StatusOutcome::refused,
         3,
         0,
         "sent A 0, sent B 0, receive_failed A 2, receive_failed B 3"},
        {"refused on one port: the other still answers",
         {{std::vector<FakeDelivery>{{milliseconds(20), statusReply(5000)}},
           {{milliseconds(1), {}, refused}}}},
         StatusOutcome::answered,
         20,
         5000,
         "sent A 0, sent B 0, receive_failed B 1, received A 20"},
        {"another tag ends the read without settings",
         {{std::vector<FakeDelivery>{{milliseconds(5), statusReply(5000, "WiZnstAs")}}, {}}},
         StatusOutcome::unexpectedReply,
         5,
         0,
         "sent A 0, sent B 0, received A 5"},
        {"a reply after the deadline is too late", answersAfter(milliseconds(301)),
         StatusOutcome::timeout, 300, 0, "sent A 0, sent B 0"},
        {"sockets that cannot be bound", FakeModule{{}, EADDRNOTAVAIL}, StatusOutcome::socket, 0, 0,
         "open_failed A 0, open_failed B 0"},
        {"a receive failure of our own is no refusal",
         {{std::vector<FakeDelivery>{{milliseconds(2), {}, ENOMEM}},
           {{milliseconds(3), {}, refused}}}},
         StatusOutcome::socket,
         3,
         0,
         "sent A 0, sent B 0, receive_failed A 2, receive_failed B 3"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeExchangeSystem system;
        system.modules[module(1)] = row.module;
        StatusSweep sweep(kLocal, SweepOptions{64, kWait}, system);
        std::vector<StatusReading> readings;
        SweepTarget target;
        target.deviceIp = module(1);
        target.onResult = [&](const StatusReading& r) { readings.push_back(r); };
        target.trace = true;
        sweep.add(std::move(target));
        runToIdle(sweep);

        ASSERT_EQ(readings.size(), 1u);
        const StatusReading& r = readings[0];
        EXPECT_EQ(r.deviceIp, module(1));
        EXPECT_EQ(statusOutcomeName(r.outcome), statusOutcomeName(row.outcome));
        EXPECT_EQ(std::chrono::duration_cast<milliseconds>(r.duration).count(), row.ms);
        EXPECT_EQ(system.elapsedMs(), row.ms) << "the sweep ends with its only read";
        EXPECT_EQ(packed(r.settings.destinationPort), row.port);
        EXPECT_EQ(+r.settings.mode, row.port != 0 ? 3 : 0);
        EXPECT_EQ(traceText(r.trace), row.trace);
    }
}

TEST(StatusSweep, ManyTargetsAtOnce) {
    struct Row {
        const char* name;
        std::vector<int> targets;  // module numbers; module 9 never answers
        std::size_t maxInFlight;
        std::size_t descriptorLimit;
        std::size_t cancelAfter;  // results before the caller cancels (0: never)
        const char* outcomes;     // per target: Answered, Timeout, Socket, - not reported
        long long endMs;
        std::size_t mostInFlight;
        int requests;  // datagrams sent, both ports counted
    };
    const Row rows[] = {
        {"7 targets, 3 in flight: the rest start as others end",
         {1, 2, 3, 4, 5, 6, 7},
         3,
         1000,
         0,
         "AAAAAAA",
         30,
         3,
         14},
        {"a repeated address is read once and reported to both",
         {1, 2, 1, 1},
         64,
         1000,
         0,
         "AAAA",
         10,
         2,
         4},
        {"a silent module holds its place until its deadline",
         {9, 1, 2},
         1,
         1000,
         0,
         "TAA",
         320,
         1,
         6},
        {"descriptors for two exchanges: the others wait, none fails",
         {1, 2, 3, 4, 5},
         64,
         4,
         0,
         "AAAAA",
         30,
         2,
         10},
        {"no descriptor for even one exchange: each target fails", {1, 2}, 64, 1, 0, "SS", 0, 0, 0},
        {"cancel: nothing starts any more, the read in flight still ends",
         {1, 9, 2, 3},
         2,
         1000,
         1,
         "AT--",
         300,
         2,
         4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeExchangeSystem system;
        system.descriptorLimit = row.descriptorLimit;
        for (int n = 1; n <= 7; ++n) {
            system.modules[module(n)] = answersAfter(milliseconds(10));
        }
        std::vector<std::uint32_t> targets;
        for (int n : row.targets) {
            targets.push_back(module(n));
        }
        std::string outcomes(targets.size(), '-');
        std::atomic<bool> cancel{false};
        std::size_t results = 0;
        const std::size_t reported = sweepStatus(
            kLocal, targets, SweepOptions{row.maxInFlight, kWait},
            [&](std::size_t index, const StatusReading& r) {
                EXPECT_EQ(outcomes[index], '-') << "index " << index << " reported twice";
                EXPECT_EQ(r.deviceIp, targets[index]);
                outcomes[index] = "ATRXUS"[static_cast<int>(r.outcome)];
                cancel = ++results == row.cancelAfter;
            },
            &cancel, system);

        EXPECT_EQ(outcomes, row.outcomes);
        EXPECT_EQ(reported,
                  static_cast<std::size_t>(std::count_if(outcomes.begin(), outcomes.end(),
                                                         [](char c) { return c != '-'; })));
        EXPECT_EQ(system.elapsedMs(), row.endMs);
        EXPECT_EQ(system.mostOpen / 2, row.mostInFlight);
        int requests = 0;
        for (const auto& [address, count] : system.requests) {
            EXPECT_EQ(count, 2) << "one request per port, one exchange per address";
            requests += count;
        }
        EXPECT_EQ(requests, row.requests);
    }
}

TEST(StatusSweep, TargetsWithDeadlinesOfTheirOwn) {
    // Module 1 answers after 200 ms, module 2 never; the sweep waits 300 ms.
    struct Row {
        int module;
        int addedAtMs;
        std::optional<milliseconds> wait;
        StatusOutcome outcome;
        long long reportedAtMs;
        long long durationMs;
    };
    const Row rows[] = {
        {1, 0, std::nullopt, StatusOutcome::answered, 200, 200},
        {1, 0, milliseconds(100), StatusOutcome::timeout, 100, 100},
        {2, 0, milliseconds(50), StatusOutcome::timeout, 50, 50},
        {2, 0, milliseconds(5000), StatusOutcome::timeout, 300, 300},  // capped at the sweep's
        {1, 150, milliseconds(20), StatusOutcome::timeout, 170, 20},   // joins the one in flight
        {1, 150, milliseconds(300), StatusOutcome::answered, 200, 50},
        {2, 250, milliseconds(300), StatusOutcome::timeout, 300, 50},  // not past the first's wait
    };
    FakeExchangeSystem system;
    system.modules[module(1)] = answersAfter(milliseconds(200));
    StatusSweep sweep(kLocal, SweepOptions{64, kWait}, system);
    std::map<std::size_t, std::pair<StatusReading, long long>> results;
    std::size_t added = 0;
    while (added < std::size(rows) || !sweep.idle()) {
        for (; added < std::size(rows) && rows[added].addedAtMs <= system.elapsedMs(); ++added) {
            SweepTarget target;
            target.deviceIp = module(rows[added].module);
            target.wait = rows[added].wait;
            target.onResult = [&, index = added](const StatusReading& r) {
                results[index] = {r, system.elapsedMs()};
            };
            sweep.add(std::move(target));
        }
        sweep.runOnce(milliseconds(10));
    }
    ASSERT_EQ(results.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        const auto& [reading, at] = results[i];
        EXPECT_EQ(statusOutcomeName(reading.outcome), statusOutcomeName(rows[i].outcome));
        EXPECT_EQ(at, rows[i].reportedAtMs);
        EXPECT_EQ(std::chrono::duration_cast<milliseconds>(reading.duration).count(),
                  rows[i].durationMs);
    }
    EXPECT_EQ(system.requests, (std::map<std::uint32_t, int>{{module(1), 2}, {module(2), 2}}))
        << "one exchange per module, shared by every target of its address";
}

}  // namespace
}  // namespace corvane
