// The exporter's one way onto the modules' network: a thread that owns a status sweep
// from the chosen local address and runs every probe and every discovery search that the
// HTTP threads hand it.
//
// - Each probe is one status exchange with a deadline of its own; probes of different
//   modules run at once, and probes of one module share its exchange (the sweep joins
//   equal addresses).
// - At most `maxProbes` probes are admitted at a time; one more is refused at once
//   rather than queued, and counted.
// - A search broadcasts from the same address and ports as the exchanges, and a module's
//   search reply would reach a connected exchange socket of that module as if it were its
//   status reply. So a search waits until the exchanges in flight have ended, probes that
//   arrive meanwhile wait for the search, and start before any later search; searches
//   asked for while one is pending or running share it, and a result is reused for
//   `DiscoveryOptions::maxAge`, so clients asking in a loop cannot hold the probes.
// - A probe never waits past its own deadline (its wait, from when it was asked for): a
//   probe still held when its time is up is answered "timeout" with nothing sent, and
//   one started late waits only for the time it has left.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "files/file_descriptor.h"
#include "net/device_search.h"
#include "net/exchange_system.h"
#include "net/status_reading.h"
#include "net/status_sweep.h"
#include "net/wire_types.h"

namespace corvane::exporter {

inline constexpr std::size_t kStatusOutcomeCount = 6;  // answered .. socket

struct ProbeCounters {
    std::array<std::uint64_t, kStatusOutcomeCount> byOutcome{};  // by StatusOutcome
    std::uint64_t overLimit = 0;        // refused because `maxProbes` were in flight
    std::size_t probesInFlight = 0;     // admitted and not yet answered
    std::size_t exchangesInFlight = 0;  // the sweep's exchanges with requests out
};

struct DiscoveryOptions {
    std::chrono::milliseconds maxAge{30000};  // a search's result is reused this long
    std::size_t mostReplies = kSearchMostReplies;
};

// A broadcast search as searchDevices does it; tests give a scripted one.
using SearchFunction =
    std::function<bool(const LocalAddress&, std::uint16_t, std::vector<DeviceHello>&, std::size_t)>;

class ProbeService {
public:
    enum class Admission { admitted, overLimit, stopping };

    struct Probe {
        Admission admission = Admission::admitted;
        StatusReading reading;  // when admitted
    };

    ProbeService(const LocalAddress& local, std::size_t maxProbes, DiscoveryOptions discovery = {},
                 ExchangeSystem& system = kernelExchangeSystem(),
                 SearchFunction search = searchDevices);
    // Stops (see stop()) and joins the thread.
    ~ProbeService();
    ProbeService(const ProbeService&) = delete;
    ProbeService& operator=(const ProbeService&) = delete;

    // One status read of `deviceIp`, taking at most `wait` from now (never more than the
    // exchange's own 3 s) however long a search holds it; blocks until it has a result.
    // With `trace`, the reading carries every step of the exchange.
    Probe probe(Ipv4Address deviceIp, std::chrono::milliseconds wait, bool trace);

    // The modules of the class the add-device wizard looks for, from a broadcast search
    // (2 s) or from one that ended less than `maxAge` ago; nothing when it could not be
    // sent or the service is stopping.
    std::optional<std::vector<DeviceHello>> search();

    // No new probe or search is admitted; those admitted still end (within their
    // deadlines) and are answered. Returns once the thread has ended.
    void stop();

    ProbeCounters counters() const;
    const LocalAddress& local() const { return m_local; }
    std::size_t maxProbes() const { return m_maxProbes; }

private:
    using TimePoint = ExchangeSystem::Clock::time_point;
    // Who answers a probe: the service thread (started, or expired while held) or the
    // asking thread, when the service thread was busy past the deadline (abandoned).
    enum class Claim { held, taken, abandoned };
    struct Pending {
        Ipv4Address deviceIp;
        std::chrono::milliseconds wait{0};
        TimePoint deadline;
        bool trace = false;
        std::shared_ptr<std::promise<StatusReading>> result;
        std::shared_ptr<std::atomic<Claim>> claim;
    };
    using SearchResult = std::optional<std::vector<DeviceHello>>;
    struct CachedSearch {
        TimePoint at;
        std::vector<DeviceHello> found;
    };

    void run();
    void wake();
    // Starts the held probes, or answers those whose time is up.
    void startHeld(std::deque<Pending>& held, StatusSweep& sweep);
    // Answers the held probes whose time is up; the earliest deadline of the others.
    TimePoint expireHeld(std::deque<Pending>& held);
    void runSearch();

    const LocalAddress m_local;
    const std::size_t m_maxProbes;
    const DiscoveryOptions m_discovery;
    ExchangeSystem& m_system;
    const SearchFunction m_searchDevices;
    FileDescriptor m_wakeFd;  // an eventfd: readable when work was queued or stop asked

    mutable std::mutex m_mutex;
    std::deque<Pending> m_queued;
    // The search asked for and not yet ended (waiting or running), which every asker
    // meanwhile shares, and the last one that was sent.
    std::shared_ptr<std::promise<SearchResult>> m_searchAsked;
    std::shared_future<SearchResult> m_searchResult;
    std::optional<CachedSearch> m_lastSearch;
    bool m_stopping = false;
    ProbeCounters m_counters;

    std::thread m_thread;  // last: it starts once everything above is made
};

}  // namespace corvane::exporter
