// The prober's discovery on a scripted clock and a scripted search: askers at once share
// one search, a result is reused for its maximum age, and a probe held by a search is
// answered at its deadline with nothing sent. No datagram is ever sent: the test's
// system opens no socket.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>

#include "exporter/probe_service.h"

namespace corvane::exporter {
namespace {

using std::chrono::milliseconds;

// A clock the test moves; sockets that cannot be opened (and are counted); the real
// poll(), so that the prober's eventfd still wakes it.
class ScriptedSystem final : public ExchangeSystem {
public:
    std::atomic<Clock::time_point> time{Clock::time_point{}};
    std::atomic<int> opened{0};

    Clock::time_point now() override { return time.load(); }
    void advance(milliseconds step) { time = time.load() + step; }
    std::unique_ptr<ExchangeSocket> open(Ipv4Address, Ipv4Address, std::size_t,
                                         int& error) override {
        ++opened;
        error = EACCES;
        return nullptr;
    }
    int wait(pollfd* fds, std::size_t count, int timeoutMs) override {
        return ::poll(fds, count, std::min(timeoutMs, 20));
    }
};

// A search that lasts until the test lets it end; it notes how many exchange sockets
// `system` had been asked for when each search began.
struct ScriptedSearch {
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    bool release = false;
    bool sends = true;
    const ScriptedSystem* system = nullptr;
    std::vector<int> openedAtCall;

    SearchFunction function() {
        return [this](const LocalAddress&, std::uint16_t, std::vector<DeviceHello>& found,
                      std::size_t most) {
            std::unique_lock lock(mutex);
            ++calls;
            openedAtCall.push_back(system != nullptr ? system->opened.load() : 0);
            changed.notify_all();
            changed.wait(lock, [this] { return release; });
            release = false;
            found.assign(std::min<std::size_t>(most, 1), DeviceHello{});
            return sends;
        };
    }
    void waitForCall(int n) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return calls >= n; });
    }
    void letEnd() {
        const std::lock_guard lock(mutex);
        release = true;
        changed.notify_all();
    }
};

TEST(ProbeService, DiscoveryIsSharedReusedAndHoldsNoProbePastItsDeadline) {
    ScriptedSystem system;
    ScriptedSearch search;
    ProbeService prober(LocalAddress{Ipv4Address::fromOctets(10, 0, 0, 1),
                                     Ipv4Address::fromOctets(255, 255, 0, 0), 0},
                        4, DiscoveryOptions{milliseconds(30000), 8}, system, search.function());
    std::vector<std::future<std::optional<std::vector<DeviceHello>>>> askers;
    for (int i = 0; i < 3; ++i) {
        askers.push_back(std::async(std::launch::async, [&] { return prober.search(); }));
    }
    search.waitForCall(1);
    // A probe asked for during the search, with 500 ms to live: its time runs out.
    auto probe = std::async(std::launch::async, [&] {
        return prober.probe(Ipv4Address::fromOctets(10, 0, 64, 11), milliseconds(500), false);
    });
    std::this_thread::sleep_for(milliseconds(50));
    system.advance(milliseconds(600));
    const ProbeService::Probe held = probe.get();
    EXPECT_EQ(held.admission, ProbeService::Admission::admitted);
    EXPECT_EQ(held.reading.outcome, StatusOutcome::timeout);
    search.letEnd();
    for (auto& asker : askers) {
        const auto found = asker.get();
        ASSERT_TRUE(found);
        EXPECT_EQ(found->size(), 1u);
    }
    EXPECT_EQ(search.calls, 1) << "three askers, one search";
    EXPECT_EQ(system.opened, 0) << "the expired probe is never sent";

    // Reused until its maximum age, then searched again; a search that could not be
    // sent is not reused.
    system.advance(milliseconds(29000));
    EXPECT_TRUE(prober.search());
    EXPECT_EQ(search.calls, 1);
    system.advance(milliseconds(1001));
    search.sends = false;
    search.letEnd();
    EXPECT_FALSE(prober.search());
    EXPECT_EQ(search.calls, 2);
    search.sends = true;
    search.letEnd();
    EXPECT_TRUE(prober.search());
    EXPECT_EQ(search.calls, 3);
    prober.stop();
}

// Searches asked for back to back, without reuse, cannot hold the probes: those that
// waited for a search are sent once it ends, before the next search is. While held they
// count against the limit, and one more probe is refused at once.
TEST(ProbeService, ProbesHeldByASearchGoOutBeforeTheNext) {
    ScriptedSystem system;
    ScriptedSearch search;
    search.system = &system;
    ProbeService prober(LocalAddress{Ipv4Address::fromOctets(10, 0, 0, 1),
                                     Ipv4Address::fromOctets(255, 255, 0, 0), 0},
                        2, DiscoveryOptions{milliseconds(0), 8}, system, search.function());
    auto asker = std::async(std::launch::async, [&] {
        const bool first = prober.search().has_value();
        return first && prober.search().has_value();
    });
    search.waitForCall(1);
    std::vector<std::future<ProbeService::Probe>> held;
    for (const Ipv4Address device :
         {Ipv4Address::fromOctets(10, 0, 64, 11), Ipv4Address::fromOctets(10, 0, 64, 12)}) {
        held.push_back(std::async(std::launch::async, [&prober, device] {
            return prober.probe(device, milliseconds(3000), false);
        }));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (prober.counters().probesInFlight < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    EXPECT_EQ(
        prober.probe(Ipv4Address::fromOctets(10, 0, 64, 13), milliseconds(3000), false).admission,
        ProbeService::Admission::overLimit);
    EXPECT_EQ(prober.counters().overLimit, 1u);

    search.letEnd();
    search.waitForCall(2);
    search.letEnd();
    EXPECT_TRUE(asker.get());
    for (auto& probe : held) {
        // Started: the exchange was tried (the test's system refuses its socket).
        EXPECT_EQ(probe.get().reading.outcome, StatusOutcome::socket);
    }
    ASSERT_EQ(search.openedAtCall.size(), 2u);
    EXPECT_EQ(search.openedAtCall[0], 0);
    EXPECT_GE(search.openedAtCall[1], 2) << "the held probes went out before the next search";
    prober.stop();
}

}  // namespace
}  // namespace corvane::exporter
