// What the scripted exchange and search systems share: a clock that moves only while an
// operation waits (straight to the next datagram due or the end of the wait), and
// sockets whose datagrams fall due a scripted time after a request went out on them.
// Nothing is sent and nothing sleeps; every time is exact.
#pragma once

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <vector>

#include "net/exchange_system.h"

namespace corvane::test {

// `Delivery`: a datagram's bytes, `afterMs` and `error` (a receive failure when not 0).
template <typename Delivery>
class ScriptedKernel {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    long long elapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_now - TimePoint{}).count();
    }
    std::size_t openSockets() const { return m_open.size(); }

protected:
    struct ScriptedSocket : ExchangeSocket {
        explicit ScriptedSocket(ScriptedKernel& kernel)
            : m_kernel(kernel), m_fd(kernel.m_nextFd++) {
            m_kernel.m_open[m_fd] = this;
        }
        ~ScriptedSocket() override { m_kernel.m_open.erase(m_fd); }
        int descriptor() const override { return m_fd; }
        void discardQueued() override { m_queue.clear(); }
        int lastError() const override { return m_error; }
        void fail(int error) { m_error = error; }

        // Each of `deliveries` falls due its own time after now.
        void schedule(const std::vector<Delivery>& deliveries) {
            for (const Delivery& d : deliveries) {
                m_queue.emplace(m_kernel.m_now + std::chrono::milliseconds(d.afterMs), d);
            }
        }
        // The delivery due by now, its bytes copied into `buffer`; nothing when none is due.
        std::optional<Delivery> takeDue(std::uint8_t* buffer, std::size_t capacity,
                                        std::size_t& length) {
            length = 0;
            if (dueAt() > m_kernel.m_now) {
                return std::nullopt;
            }
            Delivery d = m_queue.begin()->second;
            m_queue.erase(m_queue.begin());
            m_error = d.error;
            length = std::min(capacity, d.bytes.size());
            std::copy_n(d.bytes.begin(), length, buffer);
            return d;
        }
        static UdpSocket::ReceiveStatus statusOf(const std::optional<Delivery>& taken) {
            if (!taken) {
                return UdpSocket::ReceiveStatus::Empty;
            }
            return taken->error != 0 ? UdpSocket::ReceiveStatus::Failed
                                     : UdpSocket::ReceiveStatus::Datagram;
        }
        TimePoint dueAt() const {
            return m_queue.empty() ? TimePoint::max() : m_queue.begin()->first;
        }

    private:
        ScriptedKernel& m_kernel;
        int m_fd;
        std::multimap<TimePoint, Delivery> m_queue;
        int m_error = 0;
    };

    // poll(): the clock moves to the first datagram due on `fds` or to the end of the wait.
    int advance(pollfd* fds, std::size_t count, int timeoutMs) {
        auto next = TimePoint::max();
        for (std::size_t i = 0; i < count; ++i) {
            next = std::min(next, dueAt(fds[i].fd));
        }
        m_now = std::min(std::max(m_now, next), m_now + std::chrono::milliseconds(timeoutMs));
        int ready = 0;
        for (std::size_t i = 0; i < count; ++i) {
            fds[i].revents = dueAt(fds[i].fd) <= m_now ? POLLIN : 0;
            ready += fds[i].revents != 0 ? 1 : 0;
        }
        return ready;
    }

    TimePoint m_now{};

private:
    TimePoint dueAt(int fd) const {
        const auto socket = m_open.find(fd);
        return socket == m_open.end() ? TimePoint::max() : socket->second->dueAt();
    }

    std::map<int, ScriptedSocket*> m_open;
    int m_nextFd = 100;
};

}  // namespace corvane::test
