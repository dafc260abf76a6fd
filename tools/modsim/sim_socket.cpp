#include "sim_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace corvane::modsim {

namespace {

// Room for a whole rack's replies and a junk flood without the kernel dropping them.
constexpr int kBufferBytes = 8 * 1024 * 1024;
constexpr std::size_t kReceiveCapacity = 65536;

std::string failure(const char* step) {
    return std::string(step) + ": " + std::strerror(errno);
}

bool setOption(int fd, int level, int name, int value) {
    return setsockopt(fd, level, name, &value, sizeof value) == 0;
}

// Larger buffers are a help, not a need: fall back to the unprivileged call quietly.
void enlargeBuffer(int fd, int forced, int plain) {
    if (!setOption(fd, SOL_SOCKET, forced, kBufferBytes)) {
        setOption(fd, SOL_SOCKET, plain, kBufferBytes);
    }
}

}  // namespace

SimSocket::SimSocket(SimSocket&& other) noexcept : m_port(other.m_port), m_fd(other.m_fd) {
    other.m_fd = -1;
}

SimSocket::~SimSocket() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool SimSocket::open(std::string& error) {
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        error = failure("socket");
        return false;
    }
    if (!setOption(m_fd, SOL_SOCKET, SO_REUSEADDR, 1) ||
        !setOption(m_fd, SOL_SOCKET, SO_BROADCAST, 1) ||
        !setOption(m_fd, IPPROTO_IP, IP_PKTINFO, 1)) {
        error = failure("setsockopt");
        return false;
    }
    enlargeBuffer(m_fd, SO_RCVBUFFORCE, SO_RCVBUF);
    enlargeBuffer(m_fd, SO_SNDBUFFORCE, SO_SNDBUF);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(m_port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = failure(("bind 0.0.0.0:" + std::to_string(m_port)).c_str());
        return false;
    }
    return true;
}

bool SimSocket::receive(ReceivedDatagram& datagram) {
    datagram.data.resize(kReceiveCapacity);
    sockaddr_in source{};
    iovec io{datagram.data.data(), datagram.data.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = recvmsg(m_fd, &message, 0);
    if (received < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            std::fprintf(stderr, "corvane-modsim: receive on %u: %s\n", unsigned{m_port},
                         std::strerror(errno));
        }
        return false;
    }
    datagram.data.resize(static_cast<std::size_t>(received));
    datagram.sourceIp = ntohl(source.sin_addr.s_addr);
    datagram.sourcePort = ntohs(source.sin_port);
    datagram.localPort = m_port;
    datagram.destinationIp = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            datagram.destinationIp = ntohl(info.ipi_addr.s_addr);
        }
    }
    return true;
}

ssize_t sendDatagramFrom(int fd, std::uint32_t sourceIp, unsigned interfaceIndex,
                         std::uint32_t destinationIp, std::uint16_t destinationPort,
                         const Bytes& data) {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(destinationPort);
    destination.sin_addr.s_addr = htonl(destinationIp);
    iovec io{const_cast<std::uint8_t*>(data.data()), data.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &destination;
    message.msg_namelen = sizeof destination;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    if (sourceIp != 0 || interfaceIndex != 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = htonl(sourceIp);
        info.ipi_ifindex = static_cast<int>(interfaceIndex);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    return sendmsg(fd, &message, 0);
}

SendResult SimSocket::send(std::uint32_t sourceIp, std::uint32_t destinationIp,
                           std::uint16_t destinationPort, const Bytes& data, std::string& error) {
    const ssize_t sent = sendDatagramFrom(m_fd, sourceIp, 0, destinationIp, destinationPort, data);
    if (sent < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
            return SendResult::WouldBlock;
        }
        error = failure("sendmsg");
        return SendResult::Failed;
    }
    if (static_cast<std::size_t>(sent) != data.size()) {
        error = "sendmsg: short send";
        return SendResult::Failed;
    }
    return SendResult::Sent;
}

}  // namespace corvane::modsim
