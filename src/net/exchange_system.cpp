#include "net/exchange_system.h"

#include <cerrno>

#include "net/device_sockets.h"

namespace corvane {

namespace {

class KernelSocket final : public ExchangeSocket {
public:
    explicit KernelSocket(UdpSocket socket) : m_socket(std::move(socket)) {}

    int descriptor() const override { return m_socket.descriptor(); }
    void discardQueued() override { m_socket.discardQueued(); }
    bool send(const std::uint8_t* bytes, std::size_t length) override {
        return m_socket.send(bytes, length);
    }
    UdpSocket::ReceiveStatus receive(std::uint8_t* buffer, std::size_t capacity,
                                     std::size_t& length, DatagramSource& source) override {
        return m_socket.receive(buffer, capacity, length, &source);
    }
    int lastError() const override { return m_socket.lastError(); }

private:
    UdpSocket m_socket;
};

class KernelExchangeSystem final : public ExchangeSystem {
public:
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

    int wait(pollfd* fds, std::size_t count, int timeoutMs) override {
        return ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    }
};

}  // namespace

ExchangeSystem& kernelExchangeSystem() {
    static KernelExchangeSystem system;
    return system;
}

bool isResourceShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace corvane
