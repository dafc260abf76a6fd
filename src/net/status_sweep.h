// Status reads of many modules at once from one local address: one poll loop over the
// sockets of every exchange in flight, each exchange exactly the single exchange of
// unicast_exchange.h with a deadline of its own, each result reported as its exchange
// ends. Check All, `corvanectl status`, the exporter's probes and the window's Watch
// mode all read through it.
//
// Rules that hold for every caller:
// - At most `maxInFlight` exchanges at once; the rest start, in the order added, as
//   others end.
// - One exchange per module address at a time: two exchanges with one module would
//   take each other's replies (their sockets have the same addresses and ports). A
//   target whose address is already queued or in flight joins that exchange and gets
//   its result.
// - When a socket cannot be made for lack of descriptors (EMFILE, ENFILE) or buffers,
//   the target waits until a running exchange has ended and closed its sockets; it
//   fails (outcome socket) only when nothing is in flight and the sockets still
//   cannot be made.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "net/datagram_exchange.h"
#include "net/exchange_system.h"
#include "net/status_reading.h"
#include "net/unicast_exchange.h"
#include "net/wire_types.h"

namespace corvane {

inline constexpr std::size_t kSweepMaxInFlight = 64;

struct SweepOptions {
    std::size_t maxInFlight = kSweepMaxInFlight;
    // How long each exchange waits for its reply after the request went out.
    std::chrono::milliseconds exchangeWait = kExchangeWait;
};

// One module to read.
struct SweepTarget {
    Ipv4Address deviceIp;
    // Runs on the thread that owns the sweep, inside runOnce, once for this target.
    std::function<void(const StatusReading&)> onResult;
    // A shorter wait of its own (a scrape with a time limit); never longer than the
    // sweep's exchangeWait. It counts from when this target's request is out (or
    // from joining an exchange already in flight), not from add().
    std::optional<std::chrono::milliseconds> wait;
    bool trace = false;  // copy the exchange's steps into the reading
};

// The sweep engine. Owned and driven by one thread: add targets, call runOnce until
// idle(). A thread that serves requests from other threads (the exporter) gives
// runOnce a descriptor (an eventfd or a pipe) that those threads make readable after
// queueing a target for it, so that a waiting pass returns at once.
class StatusSweep {
public:
    StatusSweep(const LocalAddress& local, SweepOptions options = {},
                ExchangeSystem& system = kernelExchangeSystem());
    // Closes the sockets of exchanges in flight; reports nothing more.
    ~StatusSweep();
    StatusSweep(const StatusSweep&) = delete;
    StatusSweep& operator=(const StatusSweep&) = delete;

    void add(SweepTarget target);

    // One pass: starts queued exchanges up to the limit, waits at most `maxWait` (less
    // when a deadline comes first) for a datagram or for `extraFd`, takes what
    // arrived, ends the exchanges that are done and runs their targets' onResult.
    // Returns at once when nothing is queued or in flight and `extraFd` is negative.
    // Returns whether `extraFd` became readable.
    bool runOnce(std::chrono::milliseconds maxWait, int extraFd = -1);

    // No exchange starts any more: targets not yet started are dropped without being
    // reported; those in flight still end at their deadline or sooner and report.
    void cancel();

    std::size_t inFlight() const { return m_running.size(); }
    std::size_t queued() const { return m_queued.size(); }
    bool idle() const { return m_running.empty() && m_queued.empty(); }

private:
    using Clock = ExchangeSystem::Clock;
    struct Waiter {
        SweepTarget target;
        Clock::time_point since{};
        Clock::time_point deadline{};
    };
    struct Job {
        Ipv4Address deviceIp;
        std::vector<Waiter> waiters;
        std::unique_ptr<UnicastExchange> exchange;  // null while queued
    };
    using Result = std::pair<std::function<void(const StatusReading&)>, StatusReading>;

    std::chrono::milliseconds waitOf(const SweepTarget& target) const;
    void startQueued();
    bool startJob(Job& job);
    void join(Job& job, SweepTarget target);
    void collect(std::vector<Result>& results);
    void report(Job& job, Waiter& waiter, Clock::time_point now, std::vector<Result>& results);
    Clock::time_point earliestWaiterDeadline() const;

    LocalAddress m_local;
    SweepOptions m_options;
    ExchangeSystem& m_system;
    std::list<Job> m_queued;
    std::list<Job> m_running;
    std::unordered_map<Ipv4Address, Job*> m_byAddress;
    // Set when descriptors ran out with exchanges in flight: no start is tried again
    // until one of them has ended.
    bool m_waitingForDescriptors = false;
};

// The blocking sweep of Check All and corvanectl: reads every address of `targets`
// from `local` and calls onResult(index, reading) on this thread once per index, in
// the order the exchanges end (equal addresses share one exchange). Once `*cancel`
// is true (checked at least every 100 ms) no exchange starts any more; those in
// flight still report. Returns how many targets were reported.
std::size_t sweepStatus(const LocalAddress& local, const std::vector<Ipv4Address>& targets,
                        const SweepOptions& options,
                        const std::function<void(std::size_t, const StatusReading&)>& onResult,
                        const std::atomic<bool>* cancel = nullptr,
                        ExchangeSystem& system = kernelExchangeSystem());

// The same, except that once `*abandon` is true (checked at least every 100 ms) it
// returns at once: exchanges in flight are closed and never reported. For a sweep that
// nobody waits for any more (a window that closes during a background sweep).
std::size_t sweepStatusUnlessAbandoned(
    const LocalAddress& local, const std::vector<Ipv4Address>& targets, const SweepOptions& options,
    const std::function<void(std::size_t, const StatusReading&)>& onResult,
    const std::atomic<bool>* abandon, ExchangeSystem& system = kernelExchangeSystem());

}  // namespace corvane
