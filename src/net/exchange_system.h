// What a unicast exchange needs from the operating system: a monotonic clock, its two
// sockets and a wait for readiness. The kernel provides them in the program; tests
// give the exchanges a scripted stand-in instead, so that they run without sleeping.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/udp_socket.h"

namespace corvane {

// One socket of an exchange, already bound and connected to the module; the broadcast
// operations use the same kind, bound and sending to 255.255.255.255 (search_system.h).
class ExchangeSocket {
public:
    virtual ~ExchangeSocket() = default;
    // What poll() waits on.
    virtual int descriptor() const = 0;
    // Throws away what arrived before the request goes out: it cannot be its reply.
    virtual void discardQueued() = 0;
    virtual bool send(const std::uint8_t* bytes, std::size_t length) = 0;
    virtual UdpSocket::ReceiveStatus receive(std::uint8_t* buffer, std::size_t capacity,
                                             std::size_t& length, DatagramSource& source) = 0;
    // errno of the last failed call.
    virtual int lastError() const = 0;
};

class ExchangeSystem {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~ExchangeSystem() = default;
    virtual Clock::time_point now() = 0;
    // Socket `index` of an exchange (0 = A, 1 = B): a non-blocking UDP socket with
    // address reuse, bound to (`local`, its own port) and connected to (`deviceIp`, the
    // same port). Null on failure, with `error` the errno of the step that failed.
    virtual std::unique_ptr<ExchangeSocket> open(Ipv4Address local, Ipv4Address deviceIp,
                                                 std::size_t index, int& error) = 0;
    // As poll(2): the number of ready entries, 0 after `timeoutMs`, -1 with errno.
    virtual int wait(pollfd* fds, std::size_t count, int timeoutMs) = 0;
};

// The kernel's sockets, poll() and the steady clock; shared, it holds no state. The
// same object serves the broadcast operations (kernelSearchSystem).
ExchangeSystem& kernelExchangeSystem();

// Whether `error` means the process or the system ran short of descriptors or buffers
// for the moment, rather than that the socket can never be made.
bool isResourceShortage(int error);

}  // namespace corvane
