// The stream of one running output: datagrams of seven packets at the stream's rate,
// RTP or bare UDP by the output's protocol, with the module's stream faults. It also
// keeps what a receiver that saw every sent datagram must find: the RTP gaps and the
// continuity breaks that the left-out datagrams cause.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "sim_module.h"
#include "ts_generator.h"

namespace corvane::modsim {

struct StreamTally {
    std::uint64_t datagrams = 0;  // made, sent or not
    std::uint64_t dropped = 0;    // left out on purpose (or refused by the kernel)
    std::uint64_t rtpGaps = 0;    // missing sequence numbers followed by a sent datagram
    std::uint64_t ccBreaks = 0;   // packets sent after their PID lost packets
};

class StreamSender {
public:
    using Clock = std::chrono::steady_clock;
    // Returns whether the datagram went out.
    using Send = std::function<bool(const Bytes&)>;

    StreamSender(std::uint32_t moduleIp, const OutputTarget& target,
                 const StreamBehaviour& behaviour, Clock::time_point start);

    // Makes every datagram due by `now` (at once for a burst) and sends it unless the
    // drop fault leaves it out.
    void sendDue(Clock::time_point now, const Send& send);
    std::optional<Clock::time_point> nextDue() const;
    const StreamTally& tally() const { return m_tally; }

private:
    void makeDatagram(Clock::time_point due, Bytes& out, std::array<std::uint16_t, 7>& pids);
    bool dropsNext() const;
    void account(bool sent, const std::array<std::uint16_t, 7>& pids);

    std::uint32_t m_moduleIp;
    OutputTarget m_target;
    StreamBehaviour m_behaviour;
    TsGenerator m_generator;
    Clock::time_point m_start;
    std::chrono::nanoseconds m_interval;
    std::uint64_t m_index = 0;  // datagrams made
    std::uint16_t m_sequence;
    std::uint64_t m_missedSequences = 0;
    bool m_anySent = false;
    std::array<bool, 0x2000> m_delivered{};
    std::array<bool, 0x2000> m_lostSinceDelivered{};
    StreamTally m_tally;
};

}  // namespace corvane::modsim
