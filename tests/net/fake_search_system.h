// A scripted segment under the broadcast operations: a clock that moves only while an
// operation waits (straight to the next scripted datagram or the end of the wait), and
// replies that reach socket A or B a scripted time after a request went out on it.
// Nothing is sent and nothing sleeps; every time is exact. Not thread-safe: a test that
// runs the operation on a worker thread looks at the records once it has ended.
#pragma once

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "net/protocol_messages.h"
#include "net/search_system.h"
#include "net/wire_bytes.h"

namespace corvane::test {

// After a request went out on a socket: a datagram, or with `error` a receive failure.
struct SearchDelivery {
    int afterMs = 0;
    Bytes bytes;
    int error = 0;
};

// A module's reply to a search, byte for byte as the module sends its record.
inline Bytes helloBytes(const DeviceHello& hello) {
    Bytes bytes(sizeof(DeviceHello));
    std::memcpy(bytes.data(), &hello, bytes.size());
    return bytes;
}

class FakeSearchSystem final : public SearchSystem {
public:
    struct Sent {
        Ipv4Address local;
        std::size_t socket = 0;
        long long atMs = 0;
        Bytes bytes;
    };

    std::array<std::vector<SearchDelivery>, 2> replies;  // what socket A, B get per request
    std::array<int, 2> openError{};                      // errno: socket A, B cannot be made
    std::array<int, 2> sendError{};                      // errno: its send fails
    int waitError = 0;                                   // errno: poll itself fails
    std::function<void()> onWait;                        // runs in each wait, before it
    std::vector<Sent> sent;
    int waits = 0;

    Clock::time_point now() override { return m_now; }
    long long elapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_now - Clock::time_point{})
            .count();
    }
    std::size_t openSockets() const { return m_open.size(); }

    std::unique_ptr<ExchangeSocket> openBroadcast(Ipv4Address local, std::size_t index,
                                                  int& error) override {
        if (openError[index] != 0) {
            error = openError[index];
            return nullptr;
        }
        return std::make_unique<Socket>(*this, local, index);
    }

    int wait(pollfd* fds, std::size_t count, int timeoutMs) override {
        ++waits;
        if (onWait) {
            onWait();
        }
        if (waitError != 0) {
            errno = waitError;
            return -1;
        }
        auto next = Clock::time_point::max();
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

private:
    struct Socket final : ExchangeSocket {
        Socket(FakeSearchSystem& s, Ipv4Address l, std::size_t i)
            : system(s), fd(s.m_nextFd++), local(l), index(i) {
            system.m_open[fd] = this;
        }
        ~Socket() override { system.m_open.erase(fd); }
        int descriptor() const override { return fd; }
        void discardQueued() override { queue.clear(); }
        bool send(const std::uint8_t* bytes, std::size_t length) override {
            if (system.sendError[index] != 0) {
                error = system.sendError[index];
                return false;
            }
            system.sent.push_back({local, index, system.elapsedMs(), Bytes(bytes, bytes + length)});
            for (const SearchDelivery& d : system.replies[index]) {
                queue.emplace(system.m_now + std::chrono::milliseconds(d.afterMs), d);
            }
            return true;
        }
        UdpSocket::ReceiveStatus receive(std::uint8_t* buffer, std::size_t capacity,
                                         std::size_t& length, DatagramSource&) override {
            length = 0;
            if (dueAt() > system.m_now) {
                return UdpSocket::ReceiveStatus::Empty;
            }
            const SearchDelivery d = queue.begin()->second;
            queue.erase(queue.begin());
            error = d.error;
            length = std::min(capacity, d.bytes.size());
            std::copy_n(d.bytes.begin(), length, buffer);
            return error != 0 ? UdpSocket::ReceiveStatus::Failed
                              : UdpSocket::ReceiveStatus::Datagram;
        }
        int lastError() const override { return error; }
        Clock::time_point dueAt() const {
            return queue.empty() ? Clock::time_point::max() : queue.begin()->first;
        }

        FakeSearchSystem& system;
        int fd;
        Ipv4Address local;
        std::size_t index;
        std::multimap<Clock::time_point, SearchDelivery> queue;
        int error = 0;
    };

    Clock::time_point dueAt(int fd) const {
        const auto socket = m_open.find(fd);
        return socket == m_open.end() ? Clock::time_point::max() : socket->second->dueAt();
    }

    Clock::time_point m_now{};
    std::map<int, Socket*> m_open;
    int m_nextFd = 100;
};

}  // namespace corvane::test
