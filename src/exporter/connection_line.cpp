#include "exporter/connection_line.h"

#include <algorithm>

namespace corvane::exporter {

ConnectionLine::ConnectionLine(std::size_t maxWaiting, std::size_t perClient,
                               std::chrono::milliseconds maxWait)
    : m_maxWaiting(maxWaiting),
      m_perClient(std::max<std::size_t>(perClient, 1)),
      m_maxWait(maxWait) {}

void ConnectionLine::dropExpired(Clock::time_point now, std::vector<Waiting>& expired) {
    // The line is in arrival order: the expired are at its front.
    while (!m_waiting.empty() && now - m_waiting.front().since > m_maxWait) {
        expired.push_back(std::move(m_waiting.front()));
        m_waiting.pop_front();
    }
}

ConnectionLine::Admission ConnectionLine::admit(int fd, const std::string& client,
                                                Clock::time_point now,
                                                std::vector<Waiting>& expired) {
    if (m_stopped) {
        return Admission::stopping;
    }
    dropExpired(now, expired);
    if (connectionsOf(client) >= m_perClient) {
        return Admission::clientOverLimit;
    }
    if (m_waiting.size() >= m_maxWaiting) {
        return Admission::lineFull;
    }
    m_waiting.push_back(Waiting{fd, client, now});
    ++m_byClient[client];
    return Admission::queued;
}

std::optional<ConnectionLine::Waiting> ConnectionLine::next(Clock::time_point now,
                                                            std::vector<Waiting>& expired) {
    dropExpired(now, expired);
    if (m_waiting.empty()) {
        return std::nullopt;
    }
    Waiting first = std::move(m_waiting.front());
    m_waiting.pop_front();
    return first;
}

void ConnectionLine::closed(const std::string& client) {
    const auto found = m_byClient.find(client);
    if (found != m_byClient.end() && --found->second == 0) {
        m_byClient.erase(found);
    }
}

std::vector<ConnectionLine::Waiting> ConnectionLine::stop() {
    m_stopped = true;
    std::vector<Waiting> left(std::make_move_iterator(m_waiting.begin()),
                              std::make_move_iterator(m_waiting.end()));
    m_waiting.clear();
    return left;
}

std::size_t ConnectionLine::connectionsOf(const std::string& client) const {
    const auto found = m_byClient.find(client);
    return found == m_byClient.end() ? 0 : found->second;
}

}  // namespace corvane::exporter
