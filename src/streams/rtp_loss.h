// Datagrams lost on the way, from RTP sequence numbers: the sum of the gaps. A
// datagram that arrives late (reordered) fills its place in a gap and is not a loss;
// one that arrives twice is ignored. A gap is counted once it is older than the
// reordering window, so the count read at any time only ever grows.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "streams/stream_time.h"

namespace corvane {

inline constexpr std::chrono::milliseconds kRtpReorderWindow{100};
inline constexpr std::size_t kRtpMaxOpenGaps = 64;

class RtpLossCounter {
public:
    void datagram(std::uint16_t sequence, StreamTime arrival);
    std::uint64_t lost(StreamTime now) const;

private:
    struct Gap {
        std::uint16_t first = 0;  // first missing sequence number
        std::uint32_t count = 0;
        StreamTime seen{};
    };
    void closeOldGaps(StreamTime now);
    void fillGap(std::uint16_t sequence);

    bool m_started = false;
    std::uint16_t m_expected = 0;
    std::uint64_t m_counted = 0;
    std::vector<Gap> m_open;  // oldest first
};

}  // namespace corvane
