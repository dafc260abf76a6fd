#include "net/exchange_system.h"

#include <cerrno>

#include "net/device_sockets.h"
#include "net/search_system.h"

namespace corvane {

namespace {

class KernelSocket final : public ExchangeSocket {
public:
    // A connected socket sends to its peer; a broadcast one to 255.255.255.255 on
    // `broadcastPort`.
    explicit KernelSocket(UdpSocket socket, std::uint16_t broadcastPort = 0)
        : m_socket(std::move(socket)), m_broadcastPort(broadcastPort) {}

    int descriptor() const override { return m_socket.descriptor(); }
    void discardQueued() override { m_socket.discardQueued(); }
    bool send(const std::uint8_t* bytes, std::size_t length) override {
        return m_broadcastPort == 0
                   ? m_socket.send(bytes, length)
                   : m_socket.sendTo(bytes, length, kBroadcastAddress, m_broadcastPort);
    }
    UdpSocket::ReceiveStatus receive(std::uint8_t* buffer, std::size_t capacity,
                                     std::size_t& length, DatagramSource& source) override {
        return m_socket.receive(buffer, capacity, length, &source);
    }
    int lastError() const override { return m_socket.lastError(); }

private:
    UdpSocket m_socket;
    std::uint16_t m_broadcastPort;
};

// One kernel under both the unicast exchanges and the broadcast operations.
class KernelSystem final : public ExchangeSystem, public SearchSystem {
public:
    using Clock = ExchangeSystem::Clock;

    Clock::time_point now() override { return Clock::now(); }

    std::unique_ptr<ExchangeSocket> open(Ipv4Address local, Ipv4Address deviceIp, std::size_t index,
                                         int& error) override {
        UdpSocket socket;
        // Connecting makes the kernel drop datagrams from anyone but the module's port.
        if (!openDeviceSocket(socket, local, index, false) ||
            !socket.connectTo(deviceIp, devicePort(index))) {
            error = socket.lastError();
            return nullptr;
        }
        return std::make_unique<KernelSocket>(std::move(socket));
    }

    std::unique_ptr<ExchangeSocket> openBroadcast(Ipv4Address local, std::size_t index,
                                                  int& error) override {
        UdpSocket socket;
        if (!openDeviceSocket(socket, local, index, true)) {
            error = socket.lastError();
            return nullptr;
        }
        return std::make_unique<KernelSocket>(std::move(socket), devicePort(index));
    }

    int wait(pollfd* fds, std::size_t count, int timeoutMs) override {
        return ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    }
};

KernelSystem& kernelSystem() {
    static KernelSystem system;
    return system;
}

}  // namespace

ExchangeSystem& kernelExchangeSystem() {
    return kernelSystem();
}

SearchSystem& kernelSearchSystem() {
    return kernelSystem();
}

bool isResourceShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace corvane
