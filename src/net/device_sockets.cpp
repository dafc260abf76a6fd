#include "net/device_sockets.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "net/protocol_messages.h"

namespace corvane {

std::uint16_t devicePort(std::size_t index) {
    return index == 0 ? kDevicePortA : kDevicePortB;
}

bool openDeviceSocket(UdpSocket& socket, Ipv4Address local, std::size_t index, bool broadcast) {
    if (!socket.open() || (broadcast && !socket.allowBroadcast()) || !socket.allowAddressReuse()) {
        return false;
    }
    // A smaller buffer than asked for only means that a flood of replies may lose
    // some; the socket works either way, so the kernel's answer is accepted.
    (void)socket.enlargeReceiveBuffer(kSocketReceiveBufferBytes);
    return socket.bindTo(local, devicePort(index));
}

void DeviceSockets::markUnusable(std::size_t index) {
    m_usable[index] = false;
    m_failure[index] = m_sockets[index]->lastError();
    m_sockets[index].reset();
}

void DeviceSockets::broadcast(const LocalAddress& local, const std::uint8_t* request,
                              std::size_t length) {
    for (std::size_t index = 0; index < m_sockets.size(); ++index) {
        int error = 0;
        m_sockets[index] = m_system.openBroadcast(local.address, index, error);
        if (m_sockets[index] == nullptr) {
            m_usable[index] = false;
            m_failure[index] = error;
            continue;
        }
        m_usable[index] = m_sockets[index]->send(request, length);
        if (!m_usable[index]) {
            markUnusable(index);
        }
    }
}

bool DeviceSockets::drain(std::size_t index, const DatagramHandler& handler) {
    std::array<std::uint8_t, kReceiveBufferLength> buffer{};
    for (int taken = 0; taken < kMaxDatagramsPerPass; ++taken) {
        std::size_t length = 0;
        DatagramSource source;  // a reply may come from any address on the segment
        switch (m_sockets[index]->receive(buffer.data(), buffer.size(), length, source)) {
            case UdpSocket::ReceiveStatus::Datagram:
                if (handler(buffer.data(), length)) {
                    return true;
                }
                break;
            case UdpSocket::ReceiveStatus::Empty:
                return false;
            case UdpSocket::ReceiveStatus::TransientError:
                // Interrupted by a signal: the socket stays in the wait.
                break;
            case UdpSocket::ReceiveStatus::Failed:
                markUnusable(index);
                return false;
        }
    }
    return false;
}

bool DeviceSockets::receiveUntil(Clock::time_point deadline, const DatagramHandler& handler) {
    while (anyUsable()) {
        const Clock::time_point now = m_system.now();
        if (now >= deadline) {
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        const int waitMs = static_cast<int>(std::min<long long>(left, kPassWaitMs));

        std::array<pollfd, 2> waits{};
        std::array<std::size_t, 2> owner{};
        std::size_t count = 0;
        for (std::size_t index = 0; index < m_sockets.size(); ++index) {
            if (m_usable[index]) {
                waits[count] = pollfd{m_sockets[index]->descriptor(), POLLIN, 0};
                owner[count++] = index;
            }
        }
        const int ready = m_system.wait(waits.data(), count, waitMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            // poll fails only for lack of kernel memory or bad arguments; waiting on
            // could not see any reply, so the operation ends as if none came.
            return false;
        }
        // Socket A's entry comes first, so its datagrams are taken first.
        for (std::size_t slot = 0; slot < count; ++slot) {
            if (waits[slot].revents == 0 || !m_usable[owner[slot]]) {
                continue;
            }
            if (drain(owner[slot], handler)) {
                return true;
            }
        }
    }
    return false;
}

void DeviceSockets::close() {
    for (std::size_t index = 0; index < m_sockets.size(); ++index) {
        m_usable[index] = false;
        m_sockets[index].reset();
    }
}

}  // namespace corvane
