#include "exporter/probe_service.h"

#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace corvane::exporter {
namespace {

using std::chrono::milliseconds;

// How long an idle pass waits; new work wakes it at once through the eventfd.
constexpr milliseconds kIdlePass{1000};

FileDescriptor makeEventFd() {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    return FileDescriptor(fd);
}

// The reading of a probe whose time ran out before its request could go out.
StatusReading expiredReading(Ipv4Address deviceIp) {
    StatusReading reading;
    reading.deviceIp = deviceIp;
    reading.outcome = StatusOutcome::timeout;
    return reading;
}

void drain(int fd) {
    std::uint64_t count = 0;
    // EAGAIN: already drained by an earlier pass; nothing else can fail on an eventfd
    // read of 8 bytes.
    while (::read(fd, &count, sizeof count) == sizeof count) {
    }
}

}  // namespace

ProbeService::ProbeService(const LocalAddress& local, std::size_t maxProbes,
                           DiscoveryOptions discovery, ExchangeSystem& system,
                           SearchFunction search)
    : m_local(local),
      m_maxProbes(std::max<std::size_t>(maxProbes, 1)),
      m_discovery(discovery),
      m_system(system),
      m_searchDevices(std::move(search)),
      m_wakeFd(makeEventFd()),
      m_thread([this] { run(); }) {}

ProbeService::~ProbeService() {
    stop();
}

void ProbeService::wake() {
    const std::uint64_t one = 1;
    // Fails only when the counter would overflow (EAGAIN), and then it is readable anyway.
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFd.get(), &one, sizeof one);
}

ProbeService::Probe ProbeService::probe(Ipv4Address deviceIp, milliseconds wait, bool trace) {
    wait = std::min(wait, kExchangeWait);
    auto promise = std::make_shared<std::promise<StatusReading>>();
    std::future<StatusReading> future = promise->get_future();
    auto claim = std::make_shared<std::atomic<Claim>>(Claim::held);
    const TimePoint deadline = m_system.now() + wait;
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping) {
            return {Admission::stopping, {}};
        }
        if (m_counters.probesInFlight >= m_maxProbes) {
            ++m_counters.overLimit;
            return {Admission::overLimit, {}};
        }
        ++m_counters.probesInFlight;
        m_queued.push_back(Pending{deviceIp, wait, deadline, trace, std::move(promise), claim});
    }
    wake();
    Probe probe;
    // The service thread answers a held probe at its deadline, unless it is busy with a
    // search then; this wait is the backstop for that case.
    const auto left = deadline - m_system.now();
    Claim held = Claim::held;
    if (future.wait_for(left) == std::future_status::timeout &&
        claim->compare_exchange_strong(held, Claim::abandoned)) {
        probe.reading = expiredReading(deviceIp);
    } else {
        try {
            probe.reading = future.get();
        } catch (const std::future_error&) {
            // The sweep dropped the target without a result, which it does only when it
            // is destroyed with work left: report that no exchange could be made.
            probe.reading.deviceIp = deviceIp;
            probe.reading.outcome = StatusOutcome::socket;
        }
    }
    const std::lock_guard lock(m_mutex);
    --m_counters.probesInFlight;
    ++m_counters.byOutcome.at(static_cast<std::size_t>(probe.reading.outcome));
    return probe;
}

std::optional<std::vector<DeviceHello>> ProbeService::search() {
    std::shared_future<SearchResult> result;
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping) {
            return std::nullopt;
        }
        if (m_lastSearch && m_system.now() - m_lastSearch->at < m_discovery.maxAge) {
            return m_lastSearch->found;
        }
        if (m_searchAsked == nullptr) {
            m_searchAsked = std::make_shared<std::promise<SearchResult>>();
            m_searchResult = m_searchAsked->get_future().share();
        }
        result = m_searchResult;
    }
    wake();
    try {
        return result.get();
    } catch (const std::future_error&) {
        return std::nullopt;
    }
}

void ProbeService::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

ProbeCounters ProbeService::counters() const {
    const std::lock_guard lock(m_mutex);
    return m_counters;
}

ProbeService::TimePoint ProbeService::expireHeld(std::deque<Pending>& held) {
    const TimePoint now = m_system.now();
    TimePoint earliest = TimePoint::max();
    std::erase_if(held, [&](Pending& pending) {
        Claim claim = Claim::held;
        if (pending.deadline > now) {
            earliest = std::min(earliest, pending.deadline);
            return false;
        }
        if (pending.claim->compare_exchange_strong(claim, Claim::taken)) {
            pending.result->set_value(expiredReading(pending.deviceIp));
        }
        return true;
    });
    return earliest;
}

void ProbeService::startHeld(std::deque<Pending>& held, StatusSweep& sweep) {
    expireHeld(held);
    const TimePoint now = m_system.now();
    for (Pending& pending : held) {
        Claim claim = Claim::held;
        if (!pending.claim->compare_exchange_strong(claim, Claim::taken)) {
            continue;  // its asker stopped waiting; nothing is sent for it
        }
        SweepTarget target;
        target.deviceIp = pending.deviceIp;
        // The time it has left, so that its whole wait stays within its deadline.
        target.wait =
            std::min(pending.wait, std::chrono::ceil<milliseconds>(pending.deadline - now));
        target.trace = pending.trace;
        target.onResult = [result = std::move(pending.result)](const StatusReading& reading) {
            result->set_value(reading);
        };
        sweep.add(std::move(target));
    }
    held.clear();
}

void ProbeService::runSearch() {
    std::vector<DeviceHello> found;
    const bool sent = m_searchDevices(m_local, kSearchClass, found, m_discovery.mostReplies);
    std::shared_ptr<std::promise<SearchResult>> asked;
    {
        const std::lock_guard lock(m_mutex);
        if (sent) {
            m_lastSearch = CachedSearch{m_system.now(), found};
        }
        asked = std::move(m_searchAsked);
        m_searchAsked = nullptr;
    }
    asked->set_value(sent ? SearchResult(std::move(found)) : std::nullopt);
}

void ProbeService::run() {
    // Every admitted probe can be in flight at once: admission is the only limit.
    StatusSweep sweep(m_local, SweepOptions{m_maxProbes, kExchangeWait}, m_system);
    std::deque<Pending> held;
    bool heldBySearch = false;  // the held probes waited for a search: they go first
    for (;;) {
        bool searchAsked = false;
        {
            const std::lock_guard lock(m_mutex);
            std::move(m_queued.begin(), m_queued.end(), std::back_inserter(held));
            m_queued.clear();
            m_counters.exchangesInFlight = sweep.inFlight();
            searchAsked = m_searchAsked != nullptr;
            if (m_stopping && held.empty() && !searchAsked && sweep.idle()) {
                return;
            }
        }
        if (searchAsked && sweep.idle() && !heldBySearch) {
            runSearch();
            heldBySearch = true;
            continue;
        }
        // While a search waits for the exchanges in flight, no new one starts.
        if (!searchAsked || heldBySearch) {
            startHeld(held, sweep);
            heldBySearch = false;
        }
        const TimePoint earliest = expireHeld(held);
        milliseconds pass = kIdlePass;
        if (earliest != TimePoint::max()) {
            pass = std::clamp(std::chrono::ceil<milliseconds>(earliest - m_system.now()),
                              milliseconds(0), kIdlePass);
        }
        if (sweep.runOnce(pass, m_wakeFd.get())) {
            drain(m_wakeFd.get());
        }
    }
}

}  // namespace corvane::exporter
