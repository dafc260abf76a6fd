#include "exporter/probe_service.h"

#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "net/device_search.h"
#include "net/status_sweep.h"

namespace corvane::exporter {
namespace {

using std::chrono::milliseconds;

// The class the add-device wizard searches for.
constexpr std::uint16_t kDiscoverClass = 3;
// How long an idle pass waits; new work wakes it at once through the eventfd.
constexpr milliseconds kIdlePass{1000};

FileDescriptor makeEventFd() {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    return FileDescriptor(fd);
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
                           ExchangeSystem& system)
    : m_local(local),
      m_maxProbes(std::max<std::size_t>(maxProbes, 1)),
      m_system(system),
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

ProbeService::Probe ProbeService::probe(std::uint32_t deviceIp, milliseconds wait, bool trace) {
    auto promise = std::make_shared<std::promise<StatusReading>>();
    std::future<StatusReading> future = promise->get_future();
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
        m_queued.push_back(Pending{deviceIp, wait, trace, std::move(promise)});
    }
    wake();
    Probe probe;
    try {
        probe.reading = future.get();
    } catch (const std::future_error&) {
        // The sweep dropped the target without a result, which it does only when it is
        // destroyed with work left: report that no exchange could be made.
        probe.reading.deviceIp = deviceIp;
        probe.reading.outcome = StatusOutcome::socket;
    }
    const std::lock_guard lock(m_mutex);
    --m_counters.probesInFlight;
    ++m_counters.byOutcome.at(static_cast<std::size_t>(probe.reading.outcome));
    return probe;
}

std::optional<std::vector<DeviceHello>> ProbeService::search() {
    auto promise = std::make_shared<std::promise<SearchResult>>();
    std::future<SearchResult> future = promise->get_future();
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping) {
            return std::nullopt;
        }
        m_searches.push_back(std::move(promise));
    }
    wake();
    try {
        return future.get();
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

void ProbeService::run() {
    // Every admitted probe can be in flight at once: admission is the only limit.
    StatusSweep sweep(m_local, SweepOptions{m_maxProbes, kExchangeWait}, m_system);
    std::deque<Pending> held;
    std::vector<std::shared_ptr<std::promise<SearchResult>>> searching;
    for (;;) {
        {
            const std::lock_guard lock(m_mutex);
            std::move(m_queued.begin(), m_queued.end(), std::back_inserter(held));
            m_queued.clear();
            std::move(m_searches.begin(), m_searches.end(), std::back_inserter(searching));
            m_searches.clear();
            m_counters.exchangesInFlight = sweep.inFlight();
            if (m_stopping && held.empty() && searching.empty() && sweep.idle()) {
                return;
            }
        }
        if (!searching.empty() && sweep.idle()) {
            std::vector<DeviceHello> found;
            const bool sent = searchDevices(m_local, kDiscoverClass, found);
            for (const auto& waiter : searching) {
                waiter->set_value(sent ? SearchResult(found) : std::nullopt);
            }
            searching.clear();
            continue;
        }
        // While a search waits for the exchanges in flight, no new one starts.
        while (searching.empty() && !held.empty()) {
            Pending pending = std::move(held.front());
            held.pop_front();
            SweepTarget target;
            target.deviceIp = pending.deviceIp;
            target.wait = pending.wait;
            target.trace = pending.trace;
            target.onResult = [result = std::move(pending.result)](const StatusReading& reading) {
                result->set_value(reading);
            };
            sweep.add(std::move(target));
        }
        if (sweep.runOnce(kIdlePass, m_wakeFd.get())) {
            drain(m_wakeFd.get());
        }
    }
}

}  // namespace corvane::exporter
