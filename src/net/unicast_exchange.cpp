#include "net/unicast_exchange.h"

#include <algorithm>
#include <cerrno>
#include <climits>

namespace corvane {

namespace {

// Errors that an ICMP message from the network puts on a connected socket.
bool reportedByNetwork(int error) {
    return error == ECONNREFUSED || error == EHOSTUNREACH || error == ENETUNREACH;
}

}  // namespace

std::string_view exchangeEventName(ExchangeEvent::Kind kind) {
    switch (kind) {
        case ExchangeEvent::Kind::openFailed:
            return "open_failed";
        case ExchangeEvent::Kind::sent:
            return "sent";
        case ExchangeEvent::Kind::sendFailed:
            return "send_failed";
        case ExchangeEvent::Kind::received:
            return "received";
        case ExchangeEvent::Kind::receiveFailed:
            return "receive_failed";
    }
    return "unknown";
}

bool UnicastExchange::start(const LocalAddress& local, Ipv4Address deviceIp,
                            const std::uint8_t* request, std::size_t length,
                            std::size_t minimumLength, std::chrono::milliseconds wait,
                            bool mayDefer) {
    m_deviceIp = deviceIp;
    m_minimumLength = minimumLength;
    m_began = m_system.now();
    m_waitBegan = m_began;
    for (std::size_t index = 0; index < m_sockets.size(); ++index) {
        int error = 0;
        m_sockets[index] = m_system.open(local.address, deviceIp, index, error);
        if (m_sockets[index] != nullptr) {
            continue;
        }
        if (mayDefer && isResourceShortage(error)) {
            record(ExchangeEvent::Kind::openFailed, index, error);
            finish(End::noSocket);
            return false;
        }
        leave(index, ExchangeEvent::Kind::openFailed, error);
    }
    // Thrown away right before the request goes out: nothing the module sent earlier,
    // a late reply to an earlier exchange included, can answer this request.
    for (auto& socket : m_sockets) {
        if (socket != nullptr) {
            socket->discardQueued();
        }
    }
    for (std::size_t index = 0; index < m_sockets.size(); ++index) {
        if (m_sockets[index] == nullptr) {
            continue;
        }
        if (m_sockets[index]->send(request, length)) {
            record(ExchangeEvent::Kind::sent, index, 0, request, length);
        } else {
            leave(index, ExchangeEvent::Kind::sendFailed, m_sockets[index]->lastError());
        }
    }
    m_waitBegan = m_system.now();
    m_deadline = m_waitBegan + wait;
    if (!anyUsable()) {
        finish(End::noSocket);
    }
    return true;
}

bool UnicastExchange::refusedByNetwork() const {
    return m_left[0] == Left::byNetwork && m_left[1] == Left::byNetwork;
}

void UnicastExchange::leave(std::size_t index, ExchangeEvent::Kind kind, int error) {
    record(kind, index, error);
    m_left[index] = kind == ExchangeEvent::Kind::receiveFailed && reportedByNetwork(error)
                        ? Left::byNetwork
                        : Left::byLocalFailure;
    m_sockets[index].reset();
}

void UnicastExchange::record(ExchangeEvent::Kind kind, std::size_t index, int error,
                             const std::uint8_t* bytes, std::size_t length) {
    if (m_events.size() >= kMaxExchangeEvents) {
        return;
    }
    ExchangeEvent event;
    event.kind = kind;
    event.socket = static_cast<std::uint8_t>(index);
    event.error = error;
    event.offset = std::chrono::duration_cast<std::chrono::microseconds>(m_system.now() - m_began);
    if (bytes != nullptr) {
        event.bytes.assign(bytes, bytes + length);
    }
    m_events.push_back(std::move(event));
}

void UnicastExchange::addWaits(std::vector<pollfd>& waits) {
    for (std::size_t index = 0; index < m_sockets.size(); ++index) {
        m_waitSlot[index] = -1;
        if (m_sockets[index] != nullptr) {
            m_waitSlot[index] = static_cast<int>(waits.size());
            waits.push_back(pollfd{m_sockets[index]->descriptor(), POLLIN, 0});
        }
    }
}

void UnicastExchange::takeDatagrams(const std::vector<pollfd>& waits) {
    // Socket A first, so that of two replies in the same pass A's is taken.
    for (std::size_t index = 0; index < m_sockets.size() && !ended(); ++index) {
        const int slot = m_waitSlot[index];
        if (slot >= 0 && m_sockets[index] != nullptr &&
            waits[static_cast<std::size_t>(slot)].revents != 0) {
            drain(index);
        }
    }
}

void UnicastExchange::drain(std::size_t index) {
    for (int taken = 0; taken < kMaxDatagramsPerPass; ++taken) {
        std::size_t length = 0;
        DatagramSource source;
        switch (m_sockets[index]->receive(m_buffer.data(), m_buffer.size(), length, source)) {
            case UdpSocket::ReceiveStatus::Datagram:
                if (source.address != m_deviceIp || source.port != devicePort(index)) {
                    // The connect filters other senders, but a datagram that the kernel
                    // matched to the socket just before the connect can still land on
                    // it after the discard (seen under a junk flood with a thousand
                    // sockets on the port). It is not the module's: skip it.
                    break;
                }
                record(ExchangeEvent::Kind::received, index, 0, m_buffer.data(), length);
                if (length >= m_minimumLength) {
                    m_replyLength = length;
                    finish(End::reply);
                    return;
                }
                m_sawShort = true;
                break;
            case UdpSocket::ReceiveStatus::Empty:
                return;
            case UdpSocket::ReceiveStatus::TransientError:
                // Interrupted by a signal: the socket stays in the wait.
                break;
            case UdpSocket::ReceiveStatus::Failed:
                leave(index, ExchangeEvent::Kind::receiveFailed, m_sockets[index]->lastError());
                if (!anyUsable()) {
                    finish(End::noSocket);
                }
                return;
        }
    }
}

void UnicastExchange::expire(Clock::time_point now) {
    if (!ended() && now >= m_deadline) {
        finish(End::deadline);
    }
}

void UnicastExchange::finish(End end) {
    m_end = end;
    // Closed at once: in a sweep the descriptors go to the exchanges still waiting.
    m_sockets[0].reset();
    m_sockets[1].reset();
}

bool waitForDatagrams(ExchangeSystem& system, const std::vector<UnicastExchange*>& exchanges,
                      std::chrono::milliseconds maxWait, int extraFd) {
    std::vector<pollfd> waits;
    waits.reserve(2 * exchanges.size() + 1);
    const auto now = system.now();
    auto wakeAt = now + maxWait;
    for (UnicastExchange* exchange : exchanges) {
        if (!exchange->ended()) {
            exchange->addWaits(waits);
            wakeAt = std::min(wakeAt, exchange->deadline());
        }
    }
    const std::size_t extraSlot = waits.size();
    if (extraFd >= 0) {
        waits.push_back(pollfd{extraFd, POLLIN, 0});
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now).count();
    const int timeoutMs = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
    const int ready = system.wait(waits.data(), waits.size(), timeoutMs);
    if (ready < 0 && errno != EINTR) {
        // poll fails only for lack of kernel memory or bad arguments; waiting on could
        // not see any reply, so the exchanges end as if none came.
        for (UnicastExchange* exchange : exchanges) {
            if (!exchange->ended()) {
                exchange->finish(UnicastExchange::End::waitFailed);
            }
        }
        return false;
    }
    if (ready > 0) {
        for (UnicastExchange* exchange : exchanges) {
            if (!exchange->ended()) {
                exchange->takeDatagrams(waits);
            }
        }
    }
    const auto after = system.now();
    for (UnicastExchange* exchange : exchanges) {
        exchange->expire(after);
    }
    return ready > 0 && extraFd >= 0 && waits[extraSlot].revents != 0;
}

}  // namespace corvane
