#include "net/datagram_exchange.h"

#include <algorithm>
#include <cstring>

#include "net/unicast_exchange.h"

namespace corvane {

bool exchangeDatagram(const LocalAddress& localAddress, Ipv4Address deviceIp,
                      const std::uint8_t* request, std::size_t requestLength, std::uint8_t* reply,
                      std::size_t capacity, std::size_t minimumLength, std::size_t* receivedLength,
                      std::chrono::milliseconds wait, ExchangeSystem& system) {
    UnicastExchange exchange(system);
    // Alone, the exchange has no one to wait for when descriptors run short: it goes
    // on with the socket it could make, as it always has.
    exchange.start(localAddress, deviceIp, request, requestLength, minimumLength, wait, false);
    if (capacity == 0) {
        // A send-only exchange: the module does not answer these requests, so the one
        // thing that can be known is whether the request went out at all.
        const auto& events = exchange.events();
        return std::any_of(events.begin(), events.end(), [](const ExchangeEvent& event) {
            return event.kind == ExchangeEvent::Kind::sent;
        });
    }
    const std::vector<UnicastExchange*> exchanges{&exchange};
    while (!exchange.ended()) {
        waitForDatagrams(system, exchanges, std::chrono::milliseconds(kPassWaitMs));
    }
    if (exchange.end() != UnicastExchange::End::reply) {
        return false;
    }
    const std::size_t kept = std::min(exchange.replyLength(), capacity);
    std::memcpy(reply, exchange.reply(), kept);
    if (receivedLength != nullptr) {
        *receivedLength = kept;
    }
    return true;
}

}  // namespace corvane
