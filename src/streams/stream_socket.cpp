#include "streams/stream_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane {

namespace {

constexpr std::size_t kControlBytes = CMSG_SPACE(sizeof(std::uint32_t));

std::string systemError(const std::string& step) {
    return step + ": " + std::strerror(errno);
}

bool setFlag(int fd, int level, int name, int value) {
    return setsockopt(fd, level, name, &value, sizeof value) == 0;
}

}  // namespace

StreamSocket::StreamSocket()
    : m_buffers(kStreamBatch * kStreamDatagramCapacity), m_control(kStreamBatch * kControlBytes) {
    for (std::size_t i = 0; i < kStreamBatch; ++i) {
        m_vectors[i] =
            iovec{m_buffers.data() + i * kStreamDatagramCapacity, kStreamDatagramCapacity};
    }
}

StreamSocket::~StreamSocket() {
    close();
}

void StreamSocket::close() {
    if (m_fd >= 0) {
        ::close(m_fd);  // closing leaves the group too; nothing to report on the way out
        m_fd = -1;
    }
}

bool StreamSocket::open(const StreamDestination& destination, Ipv4Address localAddress,
                        int bufferBytes, std::string& error) {
    close();
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        error = systemError("cannot create a UDP socket");
        return false;
    }
    // Several measurements (and other receivers) may share a group and port.
    if (!setFlag(m_fd, SOL_SOCKET, SO_REUSEADDR, 1) || !setFlag(m_fd, SOL_SOCKET, SO_RXQ_OVFL, 1)) {
        error = systemError("cannot set the socket's options");
        return false;
    }
    // Forced past the system's limit where the process may (CAP_NET_ADMIN), else as
    // far as the limit allows; the granted size is read back either way.
    if (!setFlag(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, bufferBytes) &&
        !setFlag(m_fd, SOL_SOCKET, SO_RCVBUF, bufferBytes)) {
        error = systemError("cannot set the receive buffer");
        return false;
    }
    int granted = 0;
    socklen_t size = sizeof granted;
    if (getsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &granted, &size) != 0) {
        error = systemError("cannot read the receive buffer size");
        return false;
    }
    m_grantedBuffer = granted / 2;  // the kernel doubles the request for its bookkeeping
    if (destination.isMulticast() && !setFlag(m_fd, IPPROTO_IP, IP_MULTICAST_ALL, 0)) {
        error = systemError("cannot limit the socket to its own group");
        return false;
    }
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(destination.port);
    bound.sin_addr.s_addr = destination.address.networkOrder();
    if (bind(m_fd, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0) {
        error = errno == EADDRNOTAVAIL && !destination.isMulticast()
                    ? destination.address.text() +
                          " is not an address of this computer, so nothing sent there "
                          "arrives here"
                    : systemError("cannot bind " + destination.text());
        return false;
    }
    return !destination.isMulticast() || join(destination, localAddress, error);
}

bool StreamSocket::join(const StreamDestination& destination, Ipv4Address localAddress,
                        std::string& error) {
    const std::string where = " on " + localAddress.text();
    if (!destination.source.isUnspecified()) {
        ip_mreq_source request{};
        request.imr_multiaddr.s_addr = destination.address.networkOrder();
        request.imr_interface.s_addr = localAddress.networkOrder();
        request.imr_sourceaddr.s_addr = destination.source.networkOrder();
        if (setsockopt(m_fd, IPPROTO_IP, IP_ADD_SOURCE_MEMBERSHIP, &request, sizeof request) != 0) {
            error = systemError("cannot join " + destination.sourceText() + "@" +
                                destination.address.text() + where);
            return false;
        }
        return true;
    }
    ip_mreqn request{};
    request.imr_multiaddr.s_addr = destination.address.networkOrder();
    request.imr_address.s_addr = localAddress.networkOrder();
    if (setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
        error = systemError("cannot join " + destination.address.text() + where);
        return false;
    }
    return true;
}

int StreamSocket::receiveBatch(std::string& error) {
    for (std::size_t i = 0; i < kStreamBatch; ++i) {
        msghdr& header = m_messages[i].msg_hdr;
        header = msghdr{};
        header.msg_name = &m_sources[i];
        header.msg_namelen = sizeof m_sources[i];
        header.msg_iov = &m_vectors[i];
        header.msg_iovlen = 1;
        header.msg_control = m_control.data() + i * kControlBytes;
        header.msg_controllen = kControlBytes;
    }
    const int count = recvmmsg(m_fd, m_messages.data(), kStreamBatch, MSG_DONTWAIT, nullptr);
    if (count < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            return 0;
        }
        error = systemError("receiving failed");
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        const msghdr& header = m_messages[i].msg_hdr;
        ReceivedStreamDatagram& out = m_received[i];
        out.data = m_buffers.data() + static_cast<std::size_t>(i) * kStreamDatagramCapacity;
        out.length = m_messages[i].msg_len;
        out.truncated = (header.msg_flags & MSG_TRUNC) != 0;
        sockaddr_in source{};
        std::memcpy(&source, &m_sources[i], sizeof source);
        out.source = Ipv4Address::fromNetworkOrder(source.sin_addr.s_addr);
        for (const cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr;
             c = CMSG_NXTHDR(const_cast<msghdr*>(&header), const_cast<cmsghdr*>(c))) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                std::uint32_t drops = 0;
                std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
                m_kernelDrops = drops;
            }
        }
    }
    return count;
}

}  // namespace corvane
