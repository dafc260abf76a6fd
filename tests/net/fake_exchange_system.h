// A scripted kernel under the exchanges: a clock that moves only while an exchange
// waits (straight to the next scripted datagram or the end of the wait), and modules
// that answer each request as a test row says. Nothing sleeps; every time is exact.
#pragma once

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>

#include "net/exchange_system.h"
#include "net/protocol_messages.h"
#include "net/wire_bytes.h"

namespace corvane::test {

// After a request reached a port: a datagram (from the module unless `from` is set),
// or with `error` a receive failure such as the ICMP refusal ECONNREFUSED.
struct FakeDelivery {
    int afterMs = 0;
    Bytes bytes;
    int error = 0;
    Ipv4Address from{};  // unspecified: the module
};
using FakeModule = std::array<std::vector<FakeDelivery>, 2>;  // what socket A, B get

class FakeExchangeSystem final : public ExchangeSystem {
public:
    std::map<Ipv4Address, FakeModule> modules;  // any other address never answers
    std::size_t descriptorLimit = 1000;         // open sockets; more fail with EMFILE
    std::map<Ipv4Address, int> requests;        // sent per address, both ports counted
    std::size_t mostOpen = 0;
    std::function<void()> onWait;  // runs in each wait, before it

    Clock::time_point now() override { return m_now; }
    long long elapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_now - Clock::time_point{})
            .count();
    }

    std::unique_ptr<ExchangeSocket> open(Ipv4Address, Ipv4Address deviceIp, std::size_t index,
                                         int& error) override {
        if (m_open.size() >= descriptorLimit) {
            error = EMFILE;
            return nullptr;
        }
        auto socket = std::make_unique<Socket>(*this, deviceIp, index);
        mostOpen = std::max(mostOpen, m_open.size());
        return socket;
    }

    int wait(pollfd* fds, std::size_t count, int timeoutMs) override {
        if (onWait) {
            onWait();
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
        Socket(FakeExchangeSystem& s, Ipv4Address ip, std::size_t i)
            : system(s), fd(s.m_nextFd++), deviceIp(ip), index(i) {
            system.m_open[fd] = this;
        }
        ~Socket() override { system.m_open.erase(fd); }
        int descriptor() const override { return fd; }
        void discardQueued() override { queue.clear(); }
        bool send(const std::uint8_t*, std::size_t) override {
            ++system.requests[deviceIp];
            for (const FakeDelivery& d : system.modules[deviceIp][index]) {
                queue.emplace(system.m_now + std::chrono::milliseconds(d.afterMs), d);
            }
            return true;
        }
        UdpSocket::ReceiveStatus receive(std::uint8_t* buffer, std::size_t capacity,
                                         std::size_t& length, DatagramSource& source) override {
            length = 0;
            if (dueAt() > system.m_now) {
                return UdpSocket::ReceiveStatus::Empty;
            }
            const FakeDelivery d = queue.begin()->second;
            queue.erase(queue.begin());
            error = d.error;
            source = {!d.from.isUnspecified() ? d.from : deviceIp,
                      index == 0 ? kDevicePortA : kDevicePortB};
            length = std::min(capacity, d.bytes.size());
            std::copy_n(d.bytes.begin(), length, buffer);
            return error != 0 ? UdpSocket::ReceiveStatus::Failed
                              : UdpSocket::ReceiveStatus::Datagram;
        }
        int lastError() const override { return error; }
        Clock::time_point dueAt() const {
            return queue.empty() ? Clock::time_point::max() : queue.begin()->first;
        }

        FakeExchangeSystem& system;
        int fd;
        Ipv4Address deviceIp;
        std::size_t index;
        std::multimap<Clock::time_point, FakeDelivery> queue;
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
