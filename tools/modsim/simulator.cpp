#include "simulator.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "module_config.h"

namespace corvane::modsim {

namespace {

constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFF;
constexpr std::size_t kMaxJunkLength = 1500;
constexpr int kMaxErrorsReported = 20;
constexpr int kRetryMs = 1;
// How many datagrams one readiness of a socket may take before timers get a turn.
constexpr int kReceiveBatch = 256;
constexpr std::uint8_t kDecoyFill = 0xEE;

double monotonicMs(Simulator::Clock::time_point time) {
    return std::chrono::duration<double, std::milli>(time.time_since_epoch()).count();
}

}  // namespace

Simulator::Simulator(std::vector<SimModule> modules, FloodOptions flood)
    : m_modules(std::move(modules)), m_flood(flood), m_random(flood.seed) {
    for (std::size_t i = 0; i < m_modules.size(); ++i) {
        m_byIp[m_modules[i].ip].push_back(i);
    }
}

bool Simulator::open(const std::string& logPath, const std::string& streamLogPath,
                     std::string& error) {
    std::set<std::uint16_t> ports{kPortA, kPortB};
    for (const auto& module : m_modules) {
        if (module.strayFrom) {
            ports.insert(module.strayFrom->port);
        }
    }
    m_sockets.reserve(ports.size());
    for (std::uint16_t port : ports) {
        m_sockets.emplace_back(port);
        if (!m_sockets.back().open(error)) {
            return false;
        }
    }
    if (!logPath.empty() && !m_log.open(logPath, error)) {
        return false;
    }
    m_floodStart = Clock::now();
    std::string streamError;
    if (!m_streams.open(streamLogPath, streamError)) {
        // The modules still answer; only their streams are missing, and this says why.
        std::fprintf(stderr, "corvane-modsim: streams will not be sent: %s\n", streamError.c_str());
    }
    return true;
}

SimSocket* Simulator::socketFor(std::uint16_t port) {
    for (auto& socket : m_sockets) {
        if (socket.port() == port) {
            return &socket;
        }
    }
    return nullptr;
}

void Simulator::run(const volatile std::sig_atomic_t& stopFlag, const sigset_t& waitMask) {
    std::vector<pollfd> fds;
    for (const auto& socket : m_sockets) {
        fds.push_back(pollfd{socket.fd(), POLLIN, 0});
    }
    while (stopFlag == 0) {
        const auto now = Clock::now();
        sendDue(now);
        flood(now);
        if (m_sendStreams && m_streamsChanged) {
            m_streams.sync(m_modules, now);
            m_streamsChanged = false;
        }
        m_streams.sendDue(now);
        const int timeoutMs = waitTimeoutMs(Clock::now());
        timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
        const int ready =
            ppoll(fds.data(), fds.size(), timeoutMs < 0 ? nullptr : &timeout, &waitMask);
        if (ready < 0) {
            if (errno != EINTR) {
                std::fprintf(stderr, "corvane-modsim: ppoll: %s\n", std::strerror(errno));
                return;
            }
            continue;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & POLLIN) {
                drain(m_sockets[i]);
            }
        }
    }
    m_streams.stopAll();
}

int Simulator::waitTimeoutMs(Clock::time_point now) const {
    int timeout = -1;
    if (!m_pending.empty()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_pending.top().due - now);
        timeout = static_cast<int>(std::max<long long>(0, wait.count()));
    }
    if (m_flood.ratePerSecond > 0) {
        timeout = timeout < 0 ? 1 : std::min(timeout, 1);
    }
    if (const auto due = m_streams.nextDue()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - now);
        const int streamTimeout = static_cast<int>(std::max<long long>(0, wait.count()));
        timeout = timeout < 0 ? streamTimeout : std::min(timeout, streamTimeout);
    }
    return timeout;
}

void Simulator::drain(SimSocket& socket) {
    ReceivedDatagram datagram;
    for (int i = 0; i < kReceiveBatch && socket.receive(datagram); ++i) {
        const auto received = Clock::now();
        handle(datagram);
        // Logged after handling: once a test sees the line, the module has acted on it.
        m_log.write(LoggedDatagram{monotonicMs(received), datagram.sourceIp, datagram.sourcePort,
                                   datagram.destinationIp, datagram.localPort, datagram.data.data(),
                                   datagram.data.size()});
    }
}

bool Simulator::isBroadcast(std::uint32_t ip) const {
    if (ip == kLimitedBroadcast) {
        return true;
    }
    return std::any_of(m_modules.begin(), m_modules.end(), [ip](const SimModule& m) {
        return m.mask != kLimitedBroadcast && (m.ip | ~m.mask) == ip;
    });
}

void Simulator::handle(const ReceivedDatagram& datagram) {
    if (datagram.localPort != kPortA && datagram.localPort != kPortB) {
        return;  // a decoy port: modules do not listen there
    }
    const auto addressed = m_byIp.find(datagram.destinationIp);
    if (addressed != m_byIp.end()) {
        // A unicast reaches only the module (or, in an address conflict, the modules)
        // that hold the address it was sent to. Copied: a move edits the index.
        const std::vector<std::size_t> targets = addressed->second;
        for (std::size_t index : targets) {
            handleForModule(index, datagram, true);
        }
        return;
    }
    if (isBroadcast(datagram.destinationIp)) {
        for (std::size_t index = 0; index < m_modules.size(); ++index) {
            handleForModule(index, datagram, false);
        }
    }
}

void Simulator::handleForModule(std::size_t index, const ReceivedDatagram& datagram, bool unicast) {
    SimModule& module = m_modules[index];
    if (!module.answersOn(datagram.localPort)) {
        return;
    }
    const std::uint8_t* data = datagram.data.data();
    const std::size_t length = datagram.data.size();
    if (hasTag(data, length, kSearchTag) && length >= kShortRequestLength) {
        const std::uint16_t wanted = getU16(data + kTagLength);
        if (module.answersAnyClass || wanted == module.deviceClass) {
            reply(module, datagram, buildHello(module));
        }
    } else if (hasTag(data, length, kNetworkSettingsTag)) {
        const std::uint32_t oldIp = module.ip;
        if (takeNetworkSettings(module, data, length) && module.ip != oldIp) {
            moveModule(index, oldIp);
            m_streamsChanged = true;  // its streams now leave from the new address
        }
    } else if (!unicast) {
        return;  // the remaining requests are addressed to one module
    } else if (hasTag(data, length, kStatusRequestTag) && length >= kShortRequestLength) {
        reply(module, datagram, buildStatusReply(module));
    } else if (hasTag(data, length, kPassportRequestTag) && length >= kShortRequestLength) {
        reply(module, datagram, buildPassportReply(module));
    } else if (hasTag(data, length, kStreamSettingsTag)) {
        m_streamsChanged = takeStreamSettings(module, data, length) || m_streamsChanged;
    }
}

void Simulator::moveModule(std::size_t index, std::uint32_t oldIp) {
    auto& old = m_byIp[oldIp];
    old.erase(std::remove(old.begin(), old.end(), index), old.end());
    if (old.empty()) {
        m_byIp.erase(oldIp);
    }
    m_byIp[m_modules[index].ip].push_back(index);
}

void Simulator::reply(const SimModule& module, const ReceivedDatagram& request, Bytes reply) {
    if (module.silent) {
        return;
    }
    const auto now = Clock::now();
    reply = applyReplyFaults(module, std::move(reply));
    if (module.strayFrom) {
        // The decoy leaves at once, so that it arrives before the real reply.
        Bytes decoy = reply;
        std::fill(decoy.begin() + std::min(decoy.size(), kTagLength), decoy.end(), kDecoyFill);
        const std::uint32_t source = module.strayFrom->ip != 0 ? module.strayFrom->ip : module.ip;
        schedule(PendingSend{now, 0, module.strayFrom->port, source, request.sourceIp,
                             request.sourcePort, std::move(decoy)});
    }
    const auto due = now + std::chrono::milliseconds(module.delayMs);
    if (module.duplicate) {
        schedule(PendingSend{due, 0, request.localPort, module.ip, request.sourceIp,
                             request.sourcePort, reply});
    }
    schedule(PendingSend{due, 0, request.localPort, module.ip, request.sourceIp, request.sourcePort,
                         std::move(reply)});
}

void Simulator::schedule(PendingSend send) {
    send.order = m_order++;
    m_pending.push(std::move(send));
}

void Simulator::sendDue(Clock::time_point now) {
    while (!m_pending.empty() && m_pending.top().due <= now) {
        const PendingSend& next = m_pending.top();
        SimSocket* socket = socketFor(next.localPort);
        std::string error;
        const SendResult result = socket == nullptr
                                      ? SendResult::Failed
                                      : socket->send(next.sourceIp, next.destinationIp,
                                                     next.destinationPort, next.data, error);
        if (result == SendResult::WouldBlock) {
            // Keep it first in line and try again shortly.
            PendingSend retry = next;
            m_pending.pop();
            retry.due = now + std::chrono::milliseconds(kRetryMs);
            m_pending.push(std::move(retry));
            return;
        }
        if (result == SendResult::Failed && m_sendErrors++ < kMaxErrorsReported) {
            std::fprintf(stderr, "corvane-modsim: reply from %s:%u to %s:%u not sent: %s\n",
                         ipv4Text(next.sourceIp).c_str(), unsigned{next.localPort},
                         ipv4Text(next.destinationIp).c_str(), unsigned{next.destinationPort},
                         error.c_str());
        }
        m_pending.pop();
    }
}

void Simulator::flood(Clock::time_point now) {
    if (m_flood.ratePerSecond <= 0) {
        return;
    }
    const double elapsed = std::chrono::duration<double>(now - m_floodStart).count();
    auto due = static_cast<std::uint64_t>(elapsed * m_flood.ratePerSecond);
    // After a stall, go on at the set rate instead of sending the backlog in one burst.
    const std::uint64_t burst = static_cast<std::uint64_t>(m_flood.ratePerSecond) / 50 + 1;
    if (due > m_floodSent + burst) {
        m_floodSent = due - burst;
    }
    std::uniform_int_distribution<std::size_t> length(0, kMaxJunkLength);
    std::uniform_int_distribution<int> byte(0, 255);
    for (; m_floodSent < due; ++m_floodSent) {
        Bytes junk(length(m_random));
        for (auto& b : junk) {
            b = static_cast<std::uint8_t>(byte(m_random));
        }
        const std::uint16_t port = (m_floodSent % 2 == 0) ? kPortA : kPortB;
        std::string error;
        // Junk that cannot be sent is simply lost, as it would be on a real segment.
        if (socketFor(port)->send(m_flood.sourceIp, m_flood.targetIp, port, junk, error) ==
                SendResult::Failed &&
            m_sendErrors++ < kMaxErrorsReported) {
            std::fprintf(stderr, "corvane-modsim: junk not sent: %s\n", error.c_str());
        }
    }
}

}  // namespace corvane::modsim
