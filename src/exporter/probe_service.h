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
//   arrive meanwhile wait for the search, and searches asked for at the same time share
//   one.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "files/file_descriptor.h"
#include "net/exchange_system.h"
#include "net/status_reading.h"
#include "net/wire_types.h"

namespace corvane::exporter {

inline constexpr std::size_t kStatusOutcomeCount = 6;  // answered .. socket

struct ProbeCounters {
    std::array<std::uint64_t, kStatusOutcomeCount> byOutcome{};  // by StatusOutcome
    std::uint64_t overLimit = 0;        // refused because `maxProbes` were in flight
    std::size_t probesInFlight = 0;     // admitted and not yet answered
    std::size_t exchangesInFlight = 0;  // the sweep's exchanges with requests out
};

class ProbeService {
public:
    enum class Admission { admitted, overLimit, stopping };

    struct Probe {
        Admission admission = Admission::admitted;
        StatusReading reading;  // when admitted
    };

    ProbeService(const LocalAddress& local, std::size_t maxProbes,
                 ExchangeSystem& system = kernelExchangeSystem());
    // Stops (see stop()) and joins the thread.
    ~ProbeService();
    ProbeService(const ProbeService&) = delete;
    ProbeService& operator=(const ProbeService&) = delete;

    // One status read of `deviceIp`, waiting at most `wait` for the reply once the request
    // is out (never more than the exchange's own 3 s); blocks until it has a result.
    // With `trace`, the reading carries every step of the exchange.
    Probe probe(std::uint32_t deviceIp, std::chrono::milliseconds wait, bool trace);

    // One broadcast search (2 s) for the modules of the class the add-device wizard looks
    // for; nothing when it could not be sent or the service is stopping.
    std::optional<std::vector<DeviceHello>> search();

    // No new probe or search is admitted; those admitted still end (within their
    // deadlines) and are answered. Returns once the thread has ended.
    void stop();

    ProbeCounters counters() const;
    const LocalAddress& local() const { return m_local; }
    std::size_t maxProbes() const { return m_maxProbes; }

private:
    struct Pending {
        std::uint32_t deviceIp = 0;
        std::chrono::milliseconds wait{0};
        bool trace = false;
        std::shared_ptr<std::promise<StatusReading>> result;
    };
    using SearchResult = std::optional<std::vector<DeviceHello>>;

    void run();
    void wake();

    const LocalAddress m_local;
    const std::size_t m_maxProbes;
    ExchangeSystem& m_system;
    FileDescriptor m_wakeFd;  // an eventfd: readable when work was queued or stop asked

    mutable std::mutex m_mutex;
    std::deque<Pending> m_queued;
    std::vector<std::shared_ptr<std::promise<SearchResult>>> m_searches;
    bool m_stopping = false;
    ProbeCounters m_counters;

    std::thread m_thread;  // last: it starts once everything above is made
};

}  // namespace corvane::exporter
