// The unicast exchange with one module as a state machine, so that a single exchange
// (exchangeDatagram) and a sweep of many at once (status_sweep.h) take exactly the
// same steps:
// 1. open socket A (port 9100) and socket B (port 9101), each bound to the local
//    address and connected to the module's same port, so only its datagrams count;
// 2. throw away what was queued on them, then send the request on A, then on B;
// 3. take the first datagram from the module's port of at least the minimum length as
//    the reply, whatever its tag; shorter ones are ignored, and a socket whose receive
//    fails (a refusal by ICMP included) leaves the wait.
// It ends when the reply is taken, its deadline passes or no usable socket is left.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "net/device_sockets.h"
#include "net/exchange_system.h"
#include "net/wire_types.h"

namespace corvane {

// A misbehaving module could send thousands of datagrams; the record keeps the first.
inline constexpr std::size_t kMaxExchangeEvents = 64;

// One step of an exchange as it happened, for callers that show what a read did.
struct ExchangeEvent {
    enum class Kind : std::uint8_t { openFailed, sent, sendFailed, received, receiveFailed };

    Kind kind = Kind::sent;
    std::uint8_t socket = 0;              // 0: socket A (port 9100), 1: socket B (port 9101)
    int error = 0;                        // errno of a failure
    std::chrono::microseconds offset{0};  // since the exchange began
    std::vector<std::uint8_t> bytes;      // sent, or received (cut to 1024 bytes)
};

// "open_failed", "sent", "send_failed", "received", "receive_failed".
std::string_view exchangeEventName(ExchangeEvent::Kind kind);

class UnicastExchange {
public:
    using Clock = ExchangeSystem::Clock;
    enum class End { running, reply, deadline, noSocket, waitFailed };

    explicit UnicastExchange(ExchangeSystem& system) : m_system(system) {}
    UnicastExchange(const UnicastExchange&) = delete;
    UnicastExchange& operator=(const UnicastExchange&) = delete;

    // Steps 1 and 2; the wait for a reply of `minimumLength` bytes or more then lasts
    // until `wait` after the sends. With `mayDefer`, a socket that cannot be made for
    // lack of descriptors or buffers leaves nothing open and nothing sent, ends the
    // exchange (noSocket) and gives false, so that the caller can start it again once
    // other exchanges have closed theirs. True otherwise.
    bool start(const LocalAddress& local, Ipv4Address deviceIp, const std::uint8_t* request,
               std::size_t length, std::size_t minimumLength, std::chrono::milliseconds wait,
               bool mayDefer);

    End end() const { return m_end; }
    bool ended() const { return m_end != End::running; }
    Clock::time_point began() const { return m_began; }
    // When the request had gone out on both sockets.
    Clock::time_point waitBegan() const { return m_waitBegan; }
    Clock::time_point deadline() const { return m_deadline; }
    void setDeadline(Clock::time_point deadline) { m_deadline = deadline; }

    // The reply (cut to 1024 bytes) once end() is End::reply.
    const std::uint8_t* reply() const { return m_buffer.data(); }
    std::size_t replyLength() const { return m_replyLength; }
    bool sawShortDatagram() const { return m_sawShort; }
    // Whether both sockets left the wait through an error that the network reported
    // (ICMP port, host or network unreachable) rather than a failure of our own.
    bool refusedByNetwork() const;
    const std::vector<ExchangeEvent>& events() const { return m_events; }

    // For waitForDatagrams: the poll entries of the usable sockets, A first; taking
    // what is queued on those that are ready; ending once `now` is past the deadline.
    void addWaits(std::vector<pollfd>& waits);
    void takeDatagrams(const std::vector<pollfd>& waits);
    void expire(Clock::time_point now);
    // Ends the exchange at once and closes its sockets.
    void finish(End end);

private:
    enum class Left : std::uint8_t { no, byLocalFailure, byNetwork };

    bool anyUsable() const { return m_sockets[0] != nullptr || m_sockets[1] != nullptr; }
    void leave(std::size_t index, ExchangeEvent::Kind kind, int error);
    void drain(std::size_t index);
    void record(ExchangeEvent::Kind kind, std::size_t index, int error,
                const std::uint8_t* bytes = nullptr, std::size_t length = 0);

    ExchangeSystem& m_system;
    std::array<std::unique_ptr<ExchangeSocket>, 2> m_sockets;
    std::array<Left, 2> m_left{Left::no, Left::no};
    std::array<int, 2> m_waitSlot{-1, -1};
    End m_end = End::running;
    Ipv4Address m_deviceIp;
    std::size_t m_minimumLength = 0;
    Clock::time_point m_began{};
    Clock::time_point m_waitBegan{};
    Clock::time_point m_deadline{};
    std::array<std::uint8_t, kReceiveBufferLength> m_buffer{};
    std::size_t m_replyLength = 0;
    bool m_sawShort = false;
    std::vector<ExchangeEvent> m_events;
};

// One pass over exchanges in flight: waits up to `maxWait`, never past the earliest
// deadline, until a socket of theirs (or `extraFd`, when not negative) is readable;
// then each takes its queued datagrams, socket A first and at most
// kMaxDatagramsPerPass per socket, so that a flood cannot hold off the deadline check;
// then those whose deadline has passed end. Returns whether `extraFd` was readable.
bool waitForDatagrams(ExchangeSystem& system, const std::vector<UnicastExchange*>& exchanges,
                      std::chrono::milliseconds maxWait, int extraFd = -1);

}  // namespace corvane
