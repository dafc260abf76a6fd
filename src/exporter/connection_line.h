// The exporter's connections, counted by client address, and the line of those waiting
// for a worker: a client may hold only so many at once, so that one client cannot take
// every worker; a connection waits in line only so long, and the line only so many.
// Bookkeeping alone, without threads or sockets: the time is a parameter.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvane::exporter {

class ConnectionLine {
public:
    using Clock = std::chrono::steady_clock;

    struct Waiting {
        int fd = -1;
        std::string client;  // the peer's address, without the port
        Clock::time_point since;
    };

    enum class Admission { queued, clientOverLimit, lineFull, stopping };

    ConnectionLine(std::size_t maxWaiting, std::size_t perClient,
                   std::chrono::milliseconds maxWait);

    // A connection just accepted. When queued, it counts for its client until closed().
    // Those waiting past the deadline leave the line into `expired`, as in next().
    Admission admit(int fd, const std::string& client, Clock::time_point now,
                    std::vector<Waiting>& expired);

    // The next connection to serve, if any; those that have waited past the deadline go
    // to `expired` (to be turned away, then closed()).
    std::optional<Waiting> next(Clock::time_point now, std::vector<Waiting>& expired);

    // A connection taken from the line has been closed.
    void closed(const std::string& client);

    // Nothing more is admitted; the connections still waiting are handed back.
    std::vector<Waiting> stop();

    std::size_t connectionsOf(const std::string& client) const;
    std::size_t waiting() const { return m_waiting.size(); }
    bool stopped() const { return m_stopped; }

private:
    void dropExpired(Clock::time_point now, std::vector<Waiting>& expired);

    const std::size_t m_maxWaiting;
    const std::size_t m_perClient;
    const std::chrono::milliseconds m_maxWait;
    std::deque<Waiting> m_waiting;
    std::unordered_map<std::string, std::size_t> m_byClient;
    bool m_stopped = false;
};

}  // namespace corvane::exporter
