// A non-blocking IPv4 UDP socket that closes itself. Every call reports whether the
// system accepted it and keeps the error number of the last failure, so that the
// operations can mark a socket unusable and tests can see why.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/ipv4_address.h"

namespace corvane {

// Where a datagram came from; the port in host order.
struct DatagramSource {
    Ipv4Address address;
    std::uint16_t port = 0;
};

class UdpSocket {
public:
    enum class ReceiveStatus {
        Datagram,        // one datagram received (possibly cut to the buffer's size)
        Empty,           // nothing queued any more
        TransientError,  // interrupted by a signal, socket still fine
        Failed,          // the socket cannot receive any more
    };

    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;

    // Creates the socket, non-blocking and closed on exec.
    bool open();
    bool allowBroadcast();
    bool allowAddressReuse();
    // Asks for a receive buffer of `bytes`, forced past the system limit where the
    // process may; the kernel's answer is accepted either way. Returns whether any
    // request was taken.
    bool enlargeReceiveBuffer(int bytes);
    // `port` in host order.
    bool bindTo(Ipv4Address address, std::uint16_t port);
    bool connectTo(Ipv4Address address, std::uint16_t port);
    // Sends the whole of `bytes` as one datagram (to the connected peer, or to
    // `address`:`port`); a partial send counts as a failure.
    bool send(const std::uint8_t* bytes, std::size_t length);
    bool sendTo(const std::uint8_t* bytes, std::size_t length, Ipv4Address address,
                std::uint16_t port);
    // Takes one queued datagram, cut to `capacity` bytes; `length` is the kept count
    // and `*source`, when given, the sender.
    ReceiveStatus receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& length,
                          DatagramSource* source = nullptr);
    // Throws away what was queued before connect(): such datagrams may come from
    // anyone, and the exchange must only ever take the module's own reply.
    void discardQueued();

    void close();
    bool isOpen() const { return m_fd >= 0; }
    int descriptor() const { return m_fd; }
    // errno of the last call that failed (0 when none has).
    int lastError() const { return m_lastError; }

private:
    bool fail();
    bool partialSend();

    int m_fd = -1;
    int m_lastError = 0;
};

}  // namespace corvane
