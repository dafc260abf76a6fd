// A scripted stand-in for the kernel under the exchanges: a clock that moves only
// while an exchange waits (straight to the next scripted datagram or the end of the
// wait), and modules that answer on each port as a test row says. Nothing sleeps;
// every time is exact.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <map>

#include "net/exchange_system.h"
#include "net/protocol_messages.h"
#include "net/wire_bytes.h"

namespace corvane::test {

using std::chrono::milliseconds;

// What a module does after a request reached one of its ports: a datagram, or
// (error set) a receive failure such as the ICMP refusal ECONNREFUSED. A datagram
// comes from the module's address and port unless `from` names another address.
struct FakeDelivery {
    milliseconds after{0};
    Bytes bytes;
    int error = 0;
    std::uint32_t from = 0;
};

struct FakeModule {
    std::array<std::vector<FakeDelivery>, 2> onPort;  // socket A, socket B
    int openError = 0;                                // every open fails with it
};

class FakeExchangeSystem final : public ExchangeSystem {
public:
    std::map<std::uint32_t, FakeModule> modules;  // a missing module never answers
    std::size_t descriptorLimit = 1000;           // open sockets; more fail with EMFILE
    std::map<std::uint32_t, int> requests;        // requests sent per module address
    std::size_t mostOpen = 0;

    Clock::time_point now() override { return m_now; }
    long long elapsedMs() const {
        return std::chrono::duration_cast<milliseconds>(m_now - Clock::time_point{}).count();
    }

    std::unique_ptr<ExchangeSocket> open(std::uint32_t, std::uint32_t deviceIp, std::size_t index,
                                         int& error) override {
        error = m_open.size() >= descriptorLimit ? EMFILE : modules[deviceIp].openError;
        if (error != 0) {
            return nullptr;
        }
        auto socket = std::make_unique<Socket>(*this, m_nextFd++, deviceIp, index);
        mostOpen = std::max(mostOpen, m_open.size());
        return socket;
    }

    int wait(pollfd* fds, std::size_t count, int timeoutMs) override {
        auto next = Clock::time_point::max();
        for (std::size_t i = 0; i < count; ++i) {
            next = std::min(next, dueAt(fds[i].fd));
        }
        m_now = std::min(std::max(m_now, next), m_now + milliseconds(timeoutMs));
        int ready = 0;
        for (std::size_t i = 0; i < count; ++i) {
            fds[i].revents = dueAt(fds[i].fd) <= m_now ? POLLIN : 0;
            ready += fds[i].revents != 0 ? 1 : 0;
        }
        return ready;
    }

private:
    class Socket final : public ExchangeSocket {
    public:
        Socket(FakeExchangeSystem& system, int fd, std::uint32_t deviceIp, std::size_t index)
            : m_system(system), m_fd(fd), m_deviceIp(deviceIp), m_index(index) {
            m_system.m_open[fd] = this;
        }
        ~Socket() override { m_system.m_open.erase(m_fd); }
        int descriptor() const override { return m_fd; }
        void discardQueued() override { m_queue.clear(); }
        bool send(const std::uint8_t*, std::size_t) override {
            ++m_system.requests[m_deviceIp];
            for (const FakeDelivery& d : m_system.modules[m_deviceIp].onPort[m_index]) {
                m_queue.emplace_back(m_system.m_now + d.after, d);
            }
            std::sort(m_queue.begin(), m_queue.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; });
            return true;
        }
        UdpSocket::ReceiveStatus receive(std::uint8_t* buffer, std::size_t capacity,
                                         std::size_t& length, DatagramSource& source) override {
            length = 0;
            if (dueAt() > m_system.m_now) {
                return UdpSocket::ReceiveStatus::Empty;
            }
            const FakeDelivery delivery = m_queue.front().second;
            m_queue.pop_front();
            m_error = delivery.error;
            if (m_error != 0) {
                return UdpSocket::ReceiveStatus::Failed;
            }
            source = {delivery.from != 0 ? delivery.from : m_deviceIp,
                      m_index == 0 ? kDevicePortA : kDevicePortB};
            length = std::min(capacity, delivery.bytes.size());
            std::copy_n(delivery.bytes.begin(), length, buffer);
            return UdpSocket::ReceiveStatus::Datagram;
        }
        int lastError() const override { return m_error; }
        Clock::time_point dueAt() const {
            return m_queue.empty() ? Clock::time_point::max() : m_queue.front().first;
        }

    private:
        FakeExchangeSystem& m_system;
        int m_fd;
        std::uint32_t m_deviceIp;
        std::size_t m_index;
        std::deque<std::pair<Clock::time_point, FakeDelivery>> m_queue;
        int m_error = 0;
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
