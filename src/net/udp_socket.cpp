#include "net/udp_socket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace corvane {

namespace {

sockaddr_in socketAddress(Ipv4Address ip, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = ip.networkOrder();
    return address;
}

bool setFlag(int fd, int option) {
    const int on = 1;
    return setsockopt(fd, SOL_SOCKET, option, &on, sizeof on) == 0;
}

}  // namespace

UdpSocket::~UdpSocket() {
    close();
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_lastError(other.m_lastError) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_lastError = other.m_lastError;
    }
    return *this;
}

bool UdpSocket::fail() {
    m_lastError = errno;
    return false;
}

bool UdpSocket::partialSend() {
    // A datagram goes out whole or not at all; a short count means it was not sent.
    m_lastError = EMSGSIZE;
    return false;
}

bool UdpSocket::open() {
    close();
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    return m_fd >= 0 || fail();
}

bool UdpSocket::allowBroadcast() {
    return setFlag(m_fd, SO_BROADCAST) || fail();
}

bool UdpSocket::allowAddressReuse() {
    return setFlag(m_fd, SO_REUSEADDR) || fail();
}

bool UdpSocket::enlargeReceiveBuffer(int bytes) {
    // SO_RCVBUFFORCE passes the system's limit but needs CAP_NET_ADMIN; without it
    // SO_RCVBUF is capped by net.core.rmem_max, which is still more than the default.
    if (setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) {
        return true;
    }
    return setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0 || fail();
}

bool UdpSocket::bindTo(Ipv4Address address, std::uint16_t port) {
    const sockaddr_in local = socketAddress(address, port);
    return ::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 || fail();
}

bool UdpSocket::connectTo(Ipv4Address address, std::uint16_t port) {
    const sockaddr_in remote = socketAddress(address, port);
    return ::connect(m_fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0 ||
           fail();
}

bool UdpSocket::send(const std::uint8_t* bytes, std::size_t length) {
    ssize_t sent = -1;
    do {
        sent = ::send(m_fd, bytes, length, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        return fail();
    }
    return static_cast<std::size_t>(sent) == length || partialSend();
}

bool UdpSocket::sendTo(const std::uint8_t* bytes, std::size_t length, Ipv4Address address,
                       std::uint16_t port) {
    const sockaddr_in remote = socketAddress(address, port);
    ssize_t sent = -1;
    do {
        sent = ::sendto(m_fd, bytes, length, MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        return fail();
    }
    return static_cast<std::size_t>(sent) == length || partialSend();
}

UdpSocket::ReceiveStatus UdpSocket::receive(std::uint8_t* buffer, std::size_t capacity,
                                            std::size_t& length, DatagramSource* source) {
    length = 0;
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    // MSG_TRUNC makes recv report the datagram's full length; a longer datagram is
    // still cut to the buffer, as the protocol wants.
    const ssize_t received = ::recvfrom(m_fd, buffer, capacity, MSG_TRUNC,
                                        reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received >= 0) {
        length = std::min(static_cast<std::size_t>(received), capacity);
        if (source != nullptr) {
            source->address = Ipv4Address::fromNetworkOrder(sender.sin_addr.s_addr);
            source->port = ntohs(sender.sin_port);
        }
        return ReceiveStatus::Datagram;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return ReceiveStatus::Empty;
    }
    m_lastError = errno;
    // A signal is no fault of the socket. Anything else, an ICMP "port unreachable" for
    // the request included (ECONNREFUSED), takes the socket out of the wait, as the
    // modules' protocol has always had it: a module that refuses a port will not answer
    // there. Stale errors of an earlier operation were discarded before the request.
    if (errno == EINTR) {
        return ReceiveStatus::TransientError;
    }
    return ReceiveStatus::Failed;
}

void UdpSocket::discardQueued() {
    // Bounded: once connected, the kernel queues nothing new from other peers, so
    // this only empties the backlog of the moment between bind and connect.
    constexpr int kMaxDiscarded = 4096;
    std::uint8_t scratch[1];
    for (int discarded = 0; discarded < kMaxDiscarded; ++discarded) {
        if (::recv(m_fd, scratch, sizeof scratch, MSG_TRUNC | MSG_DONTWAIT) < 0 &&
            (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        // A datagram, or an error left by an earlier operation on the same address
        // pair (reported once, then cleared): either way it is not about this request.
    }
}

void UdpSocket::close() {
    if (m_fd >= 0) {
        // Nothing useful can be done about a failing close of a datagram socket: the
        // descriptor is released either way and no data is pending on our side.
        (void)::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace corvane
