// The socket a stream is received on: joined to a multicast group (any-source, or
// source-specific) on a chosen local address, or bound to a unicast address of this
// computer; a large receive buffer asked for; the kernel's own drops reported
// (SO_RXQ_OVFL); datagrams taken in batches with recvmmsg.
#pragma once

#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "streams/stream_destination.h"

namespace corvane {

inline constexpr int kStreamReceiveBufferBytes = 8 * 1024 * 1024;
inline constexpr std::size_t kStreamBatch = 64;
inline constexpr std::size_t kStreamDatagramCapacity = 2048;  // 7 packets and headers fit

struct ReceivedStreamDatagram {
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
    bool truncated = false;  // longer than kStreamDatagramCapacity
    Ipv4Address source;
};

class StreamSocket {
public:
    StreamSocket();
    ~StreamSocket();
    StreamSocket(const StreamSocket&) = delete;
    StreamSocket& operator=(const StreamSocket&) = delete;

    // `localAddress` is the address whose interface joins the group;
    // for a unicast destination the destination itself is bound. On failure `error`
    // says, in words, which step the system refused and why.
    bool open(const StreamDestination& destination, Ipv4Address localAddress, int bufferBytes,
              std::string& error);
    int fd() const { return m_fd; }
    // The receive room the kernel granted, in the terms it was asked in.
    int grantedBufferBytes() const { return m_grantedBuffer; }

    // Takes up to one batch of queued datagrams without waiting: the count (0 when
    // nothing is queued), or -1 when the socket failed (`error` says why).
    int receiveBatch(std::string& error);
    const ReceivedStreamDatagram& datagram(std::size_t index) const { return m_received[index]; }
    // Datagrams the kernel dropped since the socket opened, as of the latest batch. The
    // kernel stamps its count on each datagram it queues, so drops become known with
    // the next datagram queued after them.
    std::uint64_t kernelDrops() const { return m_kernelDrops; }

private:
    bool join(const StreamDestination& destination, Ipv4Address localAddress, std::string& error);
    void close();

    int m_fd = -1;
    int m_grantedBuffer = 0;
    std::uint64_t m_kernelDrops = 0;
    std::vector<std::uint8_t> m_buffers;
    std::array<mmsghdr, kStreamBatch> m_messages{};
    std::array<iovec, kStreamBatch> m_vectors{};
    std::array<sockaddr_storage, kStreamBatch> m_sources{};
    std::vector<std::uint8_t> m_control;
    std::array<ReceivedStreamDatagram, kStreamBatch> m_received{};
};

}  // namespace corvane
