#include "net/status_sweep.h"

#include <algorithm>
#include <utility>

#include "net/protocol_messages.h"

namespace corvane {

using std::chrono::milliseconds;

StatusSweep::StatusSweep(const LocalAddress& local, SweepOptions options, ExchangeSystem& system)
    : m_local(local), m_options(options), m_system(system) {
    // A limit of 0 would never start anything and never become idle.
    m_options.maxInFlight = std::max<std::size_t>(m_options.maxInFlight, 1);
}

StatusSweep::~StatusSweep() = default;

milliseconds StatusSweep::waitOf(const SweepTarget& target) const {
    return target.wait ? std::clamp(*target.wait, milliseconds(0), m_options.exchangeWait)
                       : m_options.exchangeWait;
}

void StatusSweep::add(SweepTarget target) {
    const auto known = m_byAddress.find(target.deviceIp);
    if (known != m_byAddress.end()) {
        join(*known->second, std::move(target));
        return;
    }
    Job& job = m_queued.emplace_back();
    job.deviceIp = target.deviceIp;
    job.waiters.push_back(Waiter{std::move(target)});
    m_byAddress[job.deviceIp] = &job;
}

void StatusSweep::join(Job& job, SweepTarget target) {
    Waiter waiter{std::move(target)};
    if (job.exchange != nullptr) {
        // The request is already out: this target waits from now, but the exchange
        // never waits longer than its own wait after the request.
        const Clock::time_point now = m_system.now();
        waiter.since = now;
        waiter.deadline = std::min(now + waitOf(waiter.target),
                                   job.exchange->waitBegan() + m_options.exchangeWait);
        job.exchange->setDeadline(std::max(job.exchange->deadline(), waiter.deadline));
    }
    job.waiters.push_back(std::move(waiter));
}

void StatusSweep::cancel() {
    for (const Job& job : m_queued) {
        m_byAddress.erase(job.deviceIp);
    }
    m_queued.clear();
}

bool StatusSweep::startJob(Job& job) {
    milliseconds longest(0);
    for (const Waiter& waiter : job.waiters) {
        longest = std::max(longest, waitOf(waiter.target));
    }
    job.exchange = std::make_unique<UnicastExchange>(m_system);
    const Request request = buildStatusRequest();
    const bool started = job.exchange->start(m_local, job.deviceIp, request.data(), request.size(),
                                             kStatusReplyMinLength, longest, /*mayDefer=*/true);
    for (Waiter& waiter : job.waiters) {
        waiter.since = job.exchange->waitBegan();
        waiter.deadline = waiter.since + waitOf(waiter.target);
    }
    return started;
}

void StatusSweep::startQueued() {
    while (!m_queued.empty() && m_running.size() < m_options.maxInFlight &&
           !m_waitingForDescriptors) {
        const auto job = m_queued.begin();
        if (!startJob(*job) && !m_running.empty()) {
            // Out of descriptors: the exchanges in flight give theirs back as they end.
            job->exchange.reset();
            m_waitingForDescriptors = true;
            return;
        }
        // Started, or failed with nothing in flight that could free a descriptor: then
        // its exchange has ended (socket) and the next collect reports it.
        m_running.splice(m_running.end(), m_queued, job);
    }
}

void StatusSweep::report(Job& job, Waiter& waiter, Clock::time_point now,
                         std::vector<Result>& results) {
    StatusReading reading = statusReadingOf(*job.exchange, job.deviceIp);
    reading.duration = std::chrono::duration_cast<std::chrono::microseconds>(now - waiter.since);
    if (waiter.target.trace) {
        reading.trace = job.exchange->events();
    }
    results.emplace_back(std::move(waiter.target.onResult), std::move(reading));
}

void StatusSweep::collect(std::vector<Result>& results) {
    const Clock::time_point now = m_system.now();
    for (auto job = m_running.begin(); job != m_running.end();) {
        UnicastExchange& exchange = *job->exchange;
        auto& waiters = job->waiters;
        // A target whose own deadline came first leaves with what the wait has come to.
        for (auto waiter = waiters.begin(); waiter != waiters.end();) {
            if (exchange.ended() || now >= waiter->deadline) {
                report(*job, *waiter, now, results);
                waiter = waiters.erase(waiter);
            } else {
                ++waiter;
            }
        }
        if (!waiters.empty()) {
            ++job;
            continue;
        }
        if (!exchange.ended()) {
            exchange.finish(UnicastExchange::End::deadline);
        }
        m_byAddress.erase(job->deviceIp);
        m_waitingForDescriptors = false;
        job = m_running.erase(job);
    }
}

ExchangeSystem::Clock::time_point StatusSweep::earliestWaiterDeadline() const {
    auto earliest = Clock::time_point::max();
    for (const Job& job : m_running) {
        for (const Waiter& waiter : job.waiters) {
            earliest = std::min(earliest, waiter.deadline);
        }
    }
    return earliest;
}

bool StatusSweep::runOnce(milliseconds maxWait, int extraFd) {
    std::vector<Result> results;
    startQueued();
    collect(results);
    bool woken = false;
    if (!m_running.empty() || extraFd >= 0) {
        // Results already due are not held back by a wait.
        milliseconds wait = results.empty() ? maxWait : milliseconds(0);
        const auto untilDeadline = earliestWaiterDeadline() - m_system.now();
        if (untilDeadline < wait) {
            wait = std::max(milliseconds(0), std::chrono::ceil<milliseconds>(untilDeadline));
        }
        std::vector<UnicastExchange*> exchanges;
        exchanges.reserve(m_running.size());
        for (Job& job : m_running) {
            exchanges.push_back(job.exchange.get());
        }
        woken = waitForDatagrams(m_system, exchanges, wait, extraFd);
        collect(results);
    }
    // Last, so that a callback may add targets or cancel the sweep.
    for (auto& [onResult, reading] : results) {
        if (onResult) {
            onResult(reading);
        }
    }
    return woken;
}

namespace {

std::size_t runSweep(const LocalAddress& local, const std::vector<Ipv4Address>& targets,
                     const SweepOptions& options,
                     const std::function<void(std::size_t, const StatusReading&)>& onResult,
                     const std::atomic<bool>* cancel, const std::atomic<bool>* abandon,
                     ExchangeSystem& system) {
    StatusSweep sweep(local, options, system);
    std::size_t reported = 0;
    for (std::size_t index = 0; index < targets.size(); ++index) {
        SweepTarget target;
        target.deviceIp = targets[index];
        target.onResult = [&, index](const StatusReading& reading) {
            ++reported;
            if (onResult) {
                onResult(index, reading);
            }
        };
        sweep.add(std::move(target));
    }
    while (!sweep.idle()) {
        if (abandon != nullptr && abandon->load()) {
            break;  // the sweep's destructor closes what is in flight
        }
        if (cancel != nullptr && cancel->load()) {
            sweep.cancel();
        }
        sweep.runOnce(milliseconds(kPassWaitMs));
    }
    return reported;
}

}  // namespace

std::size_t sweepStatus(const LocalAddress& local, const std::vector<Ipv4Address>& targets,
                        const SweepOptions& options,
                        const std::function<void(std::size_t, const StatusReading&)>& onResult,
                        const std::atomic<bool>* cancel, ExchangeSystem& system) {
    return runSweep(local, targets, options, onResult, cancel, nullptr, system);
}

std::size_t sweepStatusUnlessAbandoned(
    const LocalAddress& local, const std::vector<Ipv4Address>& targets, const SweepOptions& options,
    const std::function<void(std::size_t, const StatusReading&)>& onResult,
    const std::atomic<bool>* abandon, ExchangeSystem& system) {
    return runSweep(local, targets, options, onResult, nullptr, abandon, system);
}

}  // namespace corvane
