#include "stream_sender.h"

#include <cmath>

namespace corvane::modsim {

namespace {

constexpr std::chrono::milliseconds kBurstEvery{200};
constexpr std::uint8_t kRtpMp2t = 33;
constexpr int kProtocolUdp = 2;
// After a stall (a busy lab), go on at the rate rather than send the backlog at once.
constexpr std::uint64_t kMaxCatchUp = 64;

GeneratorContent contentOf(StreamFault fault) {
    switch (fault) {
        case StreamFault::onlyNull:
            return GeneratorContent::onlyNull;
        case StreamFault::noPat:
            return GeneratorContent::programmeWithoutPat;
        default:
            return GeneratorContent::programme;
    }
}

}  // namespace

StreamSender::StreamSender(std::uint32_t moduleIp, const OutputTarget& target,
                           const StreamBehaviour& behaviour, Clock::time_point start)
    : m_moduleIp(moduleIp),
      m_target(target),
      m_behaviour(behaviour),
      m_generator(behaviour.rate, !target.noStuffing, contentOf(behaviour.fault)),
      m_start(start),
      m_interval(std::chrono::nanoseconds(
          static_cast<std::int64_t>(1e9 * kPacketsPerDatagram / m_generator.packetRate()))),
      m_sequence(static_cast<std::uint16_t>(moduleIp * 2654435761u >> 16)) {}

std::optional<StreamSender::Clock::time_point> StreamSender::nextDue() const {
    if (m_behaviour.fault == StreamFault::silent) {
        return std::nullopt;
    }
    const auto due = m_start + m_interval * static_cast<std::int64_t>(m_index);
    if (m_behaviour.fault != StreamFault::burst) {
        return due;
    }
    const auto sinceStart = due - m_start;
    const auto bursts = sinceStart / kBurstEvery + 1;
    return m_start + kBurstEvery * bursts;
}

bool StreamSender::dropsNext() const {
    if (m_behaviour.dropPerSecond <= 0) {
        return false;
    }
    // Datagram i is left out when the running count of drops due grows at it.
    const double perDatagram =
        m_behaviour.dropPerSecond * std::chrono::duration<double>(m_interval).count();
    return std::floor((static_cast<double>(m_index) + 1) * perDatagram) !=
           std::floor(static_cast<double>(m_index) * perDatagram);
}

void StreamSender::sendDue(Clock::time_point now, const Send& send) {
    const auto next = nextDue();
    if (!next || *next > now) {
        return;
    }
    const auto late = (now - m_start) / m_interval + 1;
    if (static_cast<std::uint64_t>(late) > m_index + kMaxCatchUp &&
        m_behaviour.fault != StreamFault::burst) {
        m_start += m_interval * static_cast<std::int64_t>(late - m_index - 1);  // skip ahead
    }
    Bytes datagram;
    std::array<std::uint16_t, 7> pids{};
    while (m_start + m_interval * static_cast<std::int64_t>(m_index) <= now) {
        const bool drop = dropsNext();
        makeDatagram(now, datagram, pids);
        const bool sent = !drop && send(datagram);
        account(sent, pids);
    }
}

void StreamSender::makeDatagram(Clock::time_point due, Bytes& out,
                                std::array<std::uint16_t, 7>& pids) {
    out.clear();
    if (m_target.protocol != kProtocolUdp) {
        const auto ticks = static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(due - m_start).count() * 9 / 100);
        out.insert(out.end(), {0x80, kRtpMp2t, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        putU16(&out[2], m_sequence);
        putIpv4(&out[4], ticks);
        putIpv4(&out[8], m_moduleIp);  // the SSRC: one per module
        ++m_sequence;
    }
    for (auto& pid : pids) {
        m_generator.nextPacket(out, pid);
    }
    ++m_index;
}

void StreamSender::account(bool sent, const std::array<std::uint16_t, 7>& pids) {
    ++m_tally.datagrams;
    if (!sent) {
        ++m_tally.dropped;
        ++m_missedSequences;
        for (std::uint16_t pid : pids) {
            m_lostSinceDelivered[pid] = pid != kSimNullPid;
        }
        return;
    }
    // A receiver that joined before the first datagram starts each count afresh at the
    // first it sees, so losses before anything of a PID arrived break nothing.
    if (m_anySent && m_target.protocol != kProtocolUdp) {
        m_tally.rtpGaps += m_missedSequences;
    }
    m_missedSequences = 0;
    m_anySent = true;
    for (std::uint16_t pid : pids) {
        if (pid == kSimNullPid) {
            continue;
        }
        if (m_lostSinceDelivered[pid] && m_delivered[pid]) {
            ++m_tally.ccBreaks;
        }
        m_lostSinceDelivered[pid] = false;
        m_delivered[pid] = true;
    }
}

}  // namespace corvane::modsim
