// Sockets A (port 9100) and B (port 9101) of a broadcast operation: opened and bound
// to the chosen local address, given the request to send, then read together until
// the operation's deadline, all over a SearchSystem (the kernel's in the program). Both
// close when the object goes away. The kernel opens the unicast exchange's sockets
// through openDeviceSocket as well (exchange_system.cpp).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "net/search_system.h"
#include "net/udp_socket.h"
#include "net/wire_types.h"

namespace corvane {

inline constexpr std::size_t kReceiveBufferLength = 1024;
inline constexpr int kPassWaitMs = 100;
// Datagrams taken from one socket in one pass; a flood then cannot hold off the
// deadline check.
inline constexpr int kMaxDatagramsPerPass = 256;
inline constexpr int kSocketReceiveBufferBytes = 1 << 20;

class DeviceSockets {
public:
    using Clock = SearchSystem::Clock;
    // Called with each datagram (cut to 1024 bytes); returns true to end the wait.
    using DatagramHandler = std::function<bool(const std::uint8_t*, std::size_t)>;

    explicit DeviceSockets(SearchSystem& system = kernelSearchSystem()) : m_system(system) {}

    // The broadcast procedure: socket A then socket B, each allowed to broadcast,
    // bound to `local` and sending `request` to 255.255.255.255 on its own port.
    void broadcast(const LocalAddress& local, const std::uint8_t* request, std::size_t length);
    bool anyUsable() const { return m_usable[0] || m_usable[1]; }
    bool isUsable(std::size_t index) const { return m_usable[index]; }
    // errno of the step that made socket `index` unusable (0 while usable).
    int failure(std::size_t index) const { return m_failure[index]; }

    // Reads both usable sockets until `handler` asks to stop (true), the deadline
    // passes or no usable socket is left (false). Each pass waits on both sockets at
    // once for at most 100 ms, then takes every queued datagram, socket A first.
    bool receiveUntil(Clock::time_point deadline, const DatagramHandler& handler);

    void close();

private:
    void markUnusable(std::size_t index);
    bool drain(std::size_t index, const DatagramHandler& handler);

    SearchSystem& m_system;
    std::array<std::unique_ptr<ExchangeSocket>, 2> m_sockets;
    std::array<bool, 2> m_usable{};
    std::array<int, 2> m_failure{};
};

// The local port of socket `index` (0 = A, 1 = B); the remote port is the same.
std::uint16_t devicePort(std::size_t index);

// Makes `socket` an operation's socket `index`: address reuse (and broadcast when
// asked), a large receive buffer, bound to `local` on its own port. False, with the
// errno in socket.lastError(), at the first step that fails.
bool openDeviceSocket(UdpSocket& socket, Ipv4Address local, std::size_t index, bool broadcast);

}  // namespace corvane
