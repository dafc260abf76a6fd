// The streams /probe?module=stream measures: each destination a module's status names
// is received in the background from the first probe that asks for it, so that later
// probes read its running counters at once. One thread receives every destination.
//
// - A destination's first probe starts its measurement and waits until that probe's
//   deadline; probes that ask meanwhile wait as long, at most their own deadline.
// - A destination no probe asked for in `idle` (10 minutes) is left.
// - At most `maxDestinations` are watched at once; one more is refused (and counted)
//   rather than joined, so that the sockets and memory stay bounded.
// Times are parameters (ask, read, tick), so tests run it on a scripted clock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "exporter/stream_window.h"
#include "files/file_descriptor.h"
#include "streams/stream_monitor.h"

namespace corvane::exporter {

// One destination named by a module's status: where its output lands, sent by it.
struct StreamRequest {
    Ipv4Address module;  // the only sender counted
    StreamDestination destination;
    StreamProtocol protocol = StreamProtocol::unknown;

    auto key() const { return std::tuple(module, destination.address, destination.port); }
};

// The receiving side of one watched destination: a StreamMonitor, or a script in tests.
class WatchedStream {
public:
    virtual ~WatchedStream() = default;
    virtual int fd() const = 0;  // -1: nothing to wait on
    virtual bool pump(const std::function<StreamTime()>& clock, std::string& error) = 0;
    virtual StreamSnapshot snapshot(StreamTime now) const = 0;
};

// Opens the receiving side, or says why it cannot (nullptr and `error`).
using StreamOpener = std::function<std::unique_ptr<WatchedStream>(
    const StreamRequest& request, StreamTime now, std::string& error)>;

// The opener of the exporter: joins from `localAddress`, after destinationProblem.
StreamOpener monitorOpener(Ipv4Address localAddress);
// Why a destination is not received at all (empty when it may be): none named, or a
// unicast port the exporter's own status reads use.
std::string destinationProblem(const StreamDestination& destination);

struct StreamWatchOptions {
    std::size_t maxDestinations = 64;
    std::chrono::milliseconds idle = std::chrono::minutes(10);
};

enum class StreamState { measured, overLimit, cannotReceive, receiveFailed };

struct StreamReading {
    StreamRequest request;
    StreamState state = StreamState::measured;
    std::string problem;  // in words, when not measured
    StreamSnapshot snapshot;
    RecentFigures recent;
};

// What ask() decided for each request, and until when its caller should wait.
struct StreamAsk {
    std::vector<StreamReading> refused;  // over the limit, or not receivable here
    std::vector<StreamRequest> watched;
    StreamTime readyAt;
};

class StreamWatch {
public:
    StreamWatch(
        StreamWatchOptions options, StreamOpener opener,
        std::function<StreamTime()> clock = [] { return StreamClock::now(); });
    ~StreamWatch();
    StreamWatch(const StreamWatch&) = delete;
    StreamWatch& operator=(const StreamWatch&) = delete;

    // The receive thread; without it (tests) nothing is pumped.
    void start();
    void stop();

    // Marks every request asked for at `now`, starts those not yet watched (a probe whose
    // deadline is `deadline`), and says until when to wait.
    StreamAsk ask(const std::vector<StreamRequest>& requests, StreamTime now, StreamTime deadline);
    // The readings of the watched requests as of `now`, refused ones first.
    std::vector<StreamReading> read(const StreamAsk& asked, StreamTime now);
    // ask, a wait on the real clock until the streams are ready (never past `deadline`),
    // and read: what a probe does.
    std::vector<StreamReading> measure(const std::vector<StreamRequest>& requests,
                                       StreamTime deadline);
    // Probes in measure()'s wait now.
    std::size_t waiting() const { return m_waiting.load(); }
    // Leaves the destinations idle for `idle`, and takes the recent figures' samples.
    void tick(StreamTime now);

    std::size_t watched() const;
    std::uint64_t refusedOverLimit() const { return m_overLimit.load(); }
    std::size_t maxDestinations() const { return m_options.maxDestinations; }

private:
    struct Entry {
        std::mutex mutex;  // the stream is pumped on the receive thread, read on others
        std::unique_ptr<WatchedStream> stream;
        StreamWindow window;
        std::string failure;  // receiving failed: not pumped any more
        StreamTime lastAsked;
        StreamTime readyAt;
    };
    using Key = decltype(StreamRequest{}.key());

    void run();
    void wake();
    std::vector<std::shared_ptr<Entry>> entries() const;
    std::shared_ptr<Entry> open(const StreamRequest& request, StreamTime now, StreamTime deadline,
                                std::string& error);

    const StreamWatchOptions m_options;
    const StreamOpener m_opener;
    const std::function<StreamTime()> m_clock;
    FileDescriptor m_wakeFd;

    mutable std::mutex m_mutex;
    std::map<Key, std::shared_ptr<Entry>> m_entries;
    bool m_stopping = false;
    std::atomic<std::uint64_t> m_overLimit{0};
    std::atomic<std::size_t> m_waiting{0};
    std::thread m_thread;
};

}  // namespace corvane::exporter
