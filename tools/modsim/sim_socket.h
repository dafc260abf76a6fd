// A UDP socket of the modules side: bound to 0.0.0.0 on one port, because a socket
// bound to a unicast address never sees 255.255.255.255 broadcasts. IP_PKTINFO tells
// which address a datagram was sent to and lets each reply leave from the address of
// the module that sends it.
#pragma once

#include <cstdint>
#include <string>

#include "wire_bytes.h"

namespace corvane::modsim {

struct ReceivedDatagram {
    Bytes data;
    std::uint32_t sourceIp = 0;  // host order
    std::uint16_t sourcePort = 0;
    std::uint32_t destinationIp = 0;
    std::uint16_t localPort = 0;
};

enum class SendResult { Sent, WouldBlock, Failed };

class SimSocket {
public:
    explicit SimSocket(std::uint16_t port) : m_port(port) {}
    SimSocket(const SimSocket&) = delete;
    SimSocket& operator=(const SimSocket&) = delete;
    SimSocket(SimSocket&& other) noexcept;
    ~SimSocket();

    bool open(std::string& error);
    int fd() const { return m_fd; }
    std::uint16_t port() const { return m_port; }

    // Returns false when nothing is waiting (or on an error, which is reported).
    bool receive(ReceivedDatagram& datagram);
    // sourceIp 0 lets the kernel choose the source address.
    SendResult send(std::uint32_t sourceIp, std::uint32_t destinationIp,
                    std::uint16_t destinationPort, const Bytes& data, std::string& error);

private:
    std::uint16_t m_port;
    int m_fd = -1;
};

// One datagram sent on `fd` from `sourceIp` (0: the kernel's choice) out of the interface
// `interfaceIndex` (0: the route's), as sendmsg does: the bytes sent, or -1 with errno.
ssize_t sendDatagramFrom(int fd, std::uint32_t sourceIp, unsigned interfaceIndex,
                         std::uint32_t destinationIp, std::uint16_t destinationPort,
                         const Bytes& data);

}  // namespace corvane::modsim
