#include "net/datagram_exchange.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "net/device_sockets.h"

namespace corvane {

bool exchangeDatagram(const LocalAddress& localAddress, std::uint32_t deviceIp,
                      const std::uint8_t* request, std::size_t requestLength, std::uint8_t* reply,
                      std::size_t capacity, std::size_t minimumLength,
                      std::size_t* receivedLength) {
    DeviceSockets sockets;
    sockets.sendTo(localAddress, deviceIp, request, requestLength);
    if (capacity == 0) {
        // A send-only exchange: the module does not answer these requests, so the one
        // thing that can be known is whether the request went out at all.
        return sockets.anyUsable();
    }
    if (!sockets.anyUsable()) {
        return false;
    }
    const auto deadline = DeviceSockets::Clock::now() + std::chrono::milliseconds(kExchangeWaitMs);
    // The first datagram that is long enough is the reply, whatever its tag.
    return sockets.receiveUntil(deadline, [&](const std::uint8_t* bytes, std::size_t length) {
        if (length < minimumLength) {
            return false;
        }
        const std::size_t kept = std::min(length, capacity);
        std::memcpy(reply, bytes, kept);
        if (receivedLength != nullptr) {
            *receivedLength = kept;
        }
        return true;
    });
}

}  // namespace corvane
