// The status sweep on a scripted kernel (fake_exchange_system.h): how each read ends
// and what its record of steps says; how many reads run at once, share an address,
// wait for descriptors and stop on cancel; deadlines of the targets' own.
#include <gtest/gtest.h>

#include "net/fake_exchange_system.h"
#include "net/status_sweep.h"
#include "packed_value.h"

namespace corvane {
namespace {

using std::chrono::milliseconds;
using test::FakeDelivery;
using test::FakeExchangeSystem;
using test::ipv4;

const LocalAddress kLocal{ipv4(10, 0, 0, 1), ipv4(255, 255, 0, 0), 0};
const SweepOptions kOptions{64, milliseconds(300)};

Ipv4Address module(int n) {
    return ipv4(10, 0, 1, static_cast<std::uint8_t>(n));
}

// A single-form status reply (protocol 1, mode 3) to destination port `port`.
FakeDelivery reply(int ms, std::uint16_t port = 5000, std::string_view tag = "WiZnStAs") {
    const auto hi = static_cast<std::uint8_t>(port >> 8), lo = static_cast<std::uint8_t>(port);
    return {ms, test::taggedBytes(tag, {1, 3, hi, lo}, 30)};
}
FakeDelivery failure(int ms, int error) {
    return {ms, {}, error};
}
test::FakeModule on(std::vector<FakeDelivery> socketA, std::vector<FakeDelivery> socketB = {}) {
    return {std::move(socketA), std::move(socketB)};
}

long long msOf(std::chrono::microseconds duration) {
    return std::chrono::duration_cast<milliseconds>(duration).count();
}

// "sent A 0, received B 5": each step of a read, its socket and its time in ms.
std::string traceText(const std::vector<ExchangeEvent>& trace) {
    std::string text;
    for (const ExchangeEvent& e : trace) {
        text += (text.empty() ? "" : ", ") + std::string(exchangeEventName(e.kind)) +
                (e.socket == 0 ? " A " : " B ") + std::to_string(msOf(e.offset));
    }
    return text;
}

TEST(StatusSweep, HowOneReadEnds) {
    const FakeDelivery tooShort{5, test::Bytes(7, 'W')};
    struct Row {
        const char* name;
        test::FakeModule script;
        StatusOutcome outcome;
        long long ms;
        std::uint16_t port;  // decoded destination port; 0: settings all zero
        const char* trace;   // after "sent A 0, sent B 0"
    };
    const Row rows[] = {
        {"the first long-enough datagram is the reply", on({reply(5)}, {reply(8, 6000)}),
         StatusOutcome::answered, 5, 5000, "received A 5"},
        {"of two in the same pass, socket A's", on({reply(5)}, {reply(5, 6000)}),
         StatusOutcome::answered, 5, 5000, "received A 5"},
        {"a datagram from another address never counts",
         on({{2, reply(0, 6000).bytes, 0, ipv4(10, 0, 9, 9)}, reply(5)}), StatusOutcome::answered,
         5, 5000, "received A 5"},
        {"datagrams shorter than a tag are ignored until the deadline", on({tooShort}, {tooShort}),
         StatusOutcome::shortReply, 300, 0, "received A 5, received B 5"},
        {"refused on both ports: the wait ends early",
         on({failure(2, ECONNREFUSED)}, {failure(3, EHOSTUNREACH)}), StatusOutcome::refused, 3, 0,
         "receive_failed A 2, receive_failed B 3"},
        {"refused on one port: the other still answers",
         on({reply(20)}, {failure(1, ECONNREFUSED)}), StatusOutcome::answered, 20, 5000,
         "receive_failed B 1, received A 20"},
        {"a receive failure of our own is no refusal",
         on({failure(2, ENOMEM)}, {failure(3, ECONNREFUSED)}), StatusOutcome::socket, 3, 0,
         "receive_failed A 2, receive_failed B 3"},
        {"another tag ends the read without settings", on({reply(5, 5000, "WiZnstAs")}),
         StatusOutcome::unexpectedReply, 5, 0, "received A 5"},
        {"a reply after the deadline is too late", on({reply(301)}), StatusOutcome::timeout, 300, 0,
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeExchangeSystem system;
        system.modules[module(1)] = row.script;
        StatusSweep sweep(kLocal, kOptions, system);
        std::vector<StatusReading> readings;
        sweep.add({module(1), [&](const StatusReading& r) { readings.push_back(r); }, {}, true});
        while (!sweep.idle()) {
            sweep.runOnce(milliseconds(100));
        }
        ASSERT_EQ(readings.size(), 1u);
        const StatusReading& r = readings[0];
        EXPECT_EQ(r.deviceIp, module(1));
        EXPECT_EQ(statusOutcomeName(r.outcome), statusOutcomeName(row.outcome));
        EXPECT_EQ(msOf(r.duration), row.ms);
        EXPECT_EQ(system.elapsedMs(), row.ms) << "the sweep ends with its only read";
        EXPECT_EQ(packed(r.settings.destinationPort), row.port);
        EXPECT_EQ(+r.settings.mode, row.port != 0 ? 3 : 0);
        EXPECT_EQ(traceText(r.trace),
                  "sent A 0, sent B 0" + std::string(*row.trace != 0 ? ", " : "") + row.trace);
    }
}

TEST(StatusSweep, ManyTargetsAtOnce) {
    struct Row {
        const char* name;
        std::string targets;  // module numbers; 1 to 7 answer after 10 ms, 9 never
        std::size_t maxInFlight;
        std::size_t descriptorLimit;
        std::size_t cancelAfter;  // results before the caller cancels (0: never)
        bool abandon;             // the caller abandons rather than cancels
        const char* outcomes;     // per target: Answered, Timeout, Socket, - not reported
        long long endMs;
        std::size_t mostInFlight;
        int requests;  // both ports counted
    };
    const Row rows[] = {
        {"7 targets, 3 in flight: the rest start as others end", "1234567", 3, 1000, 0, false,
         "AAAAAAA", 30, 3, 14},
        {"a repeated address is read once, reported to each", "1211", 64, 1000, 0, false, "AAAA",
         10, 2, 4},
        {"a silent module holds its place until its deadline", "912", 1, 1000, 0, false, "TAA", 320,
         1, 6},
        {"descriptors for two exchanges: the others wait, none fails", "12345", 64, 4, 0, false,
         "AAAAA", 30, 2, 10},
        {"no descriptors for even one exchange: each target fails", "12", 64, 1, 0, false, "SS", 0,
         0, 0},
        {"cancel: nothing starts any more, what is in flight ends", "1923", 2, 1000, 1, false,
         "AT--", 300, 2, 4},
        {"abandon: returns at once, what is in flight is dropped", "1923", 2, 1000, 1, true, "A---",
         10, 2, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeExchangeSystem system;
        system.descriptorLimit = row.descriptorLimit;
        for (int n = 1; n <= 7; ++n) {
            system.modules[module(n)] = on({reply(10)});
        }
        std::vector<Ipv4Address> targets;
        for (char n : row.targets) {
            targets.push_back(module(n - '0'));
        }
        std::string outcomes(targets.size(), '-');
        std::atomic<bool> cancel{false};
        std::size_t results = 0;
        const auto onResult = [&](std::size_t index, const StatusReading& r) {
            EXPECT_EQ(outcomes[index], '-') << "index " << index << " reported twice";
            EXPECT_EQ(r.deviceIp, targets[index]);
            outcomes[index] = "ATRXUS"[static_cast<int>(r.outcome)];
            cancel = ++results == row.cancelAfter;
        };
        const SweepOptions options{row.maxInFlight, kOptions.exchangeWait};
        const std::size_t reported =
            row.abandon
                ? sweepStatusUnlessAbandoned(kLocal, targets, options, onResult, &cancel, system)
                : sweepStatus(kLocal, targets, options, onResult, &cancel, system);

        EXPECT_EQ(outcomes, row.outcomes);
        EXPECT_EQ(reported, results);
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
        {1, 150, milliseconds(20), StatusOutcome::timeout, 170, 20},   // joins one in flight
        {1, 150, milliseconds(300), StatusOutcome::answered, 200, 50},
        {2, 250, milliseconds(300), StatusOutcome::timeout, 300, 50},  // not past the first's wait
    };
    FakeExchangeSystem system;
    system.modules[module(1)] = on({reply(200)});
    StatusSweep sweep(kLocal, kOptions, system);
    std::map<std::size_t, std::pair<StatusReading, long long>> results;
    for (std::size_t added = 0; added < std::size(rows) || !sweep.idle();) {
        for (; added < std::size(rows) && rows[added].addedAtMs <= system.elapsedMs(); ++added) {
            sweep.add({module(rows[added].module),
                       [&, added](const StatusReading& r) {
                           results[added] = {r, system.elapsedMs()};
                       },
                       rows[added].wait});
        }
        sweep.runOnce(milliseconds(10));
    }
    ASSERT_EQ(results.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_EQ(statusOutcomeName(results[i].first.outcome), statusOutcomeName(rows[i].outcome));
        EXPECT_EQ(results[i].second, rows[i].reportedAtMs);
        EXPECT_EQ(msOf(results[i].first.duration), rows[i].durationMs);
    }
    EXPECT_EQ(system.requests, (std::map<Ipv4Address, int>{{module(1), 2}, {module(2), 2}}))
        << "one exchange per module, shared by every target of its address";
}

}  // namespace
}  // namespace corvane
