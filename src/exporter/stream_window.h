// A watched stream's figures of the last seconds rather than since its measurement
// began: a measurement runs for as long as Prometheus asks for it (hours), and a rate
// averaged over all that time would hide a stream that drops to stuffing now.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

#include "streams/stream_snapshot.h"
#include "streams/stream_time.h"

namespace corvane::exporter {

// A stream is up while its latest datagram is at most this old.
inline constexpr double kStreamUpWithinMs = 2000;
// The span of the recent bitrates and of "only stuffing".
inline constexpr std::chrono::seconds kRecentSpan{10};

struct RecentFigures {
    bool up = false;
    double bitrate = 0;     // bits per second, all packets
    double netBitrate = 0;  // without null packets
    bool onlyStuffing = false;
};

class StreamWindow {
public:
    // Keeps the counts of `snapshot`, taken at `now`, about once a second.
    void sample(StreamTime now, const StreamSnapshot& snapshot);
    // The figures at `now` from `snapshot`, against the sample at least kRecentSpan old
    // (the measurement's own figures while it is younger than that).
    RecentFigures figures(StreamTime now, const StreamSnapshot& snapshot) const;

private:
    struct Sample {
        StreamTime at;
        std::uint64_t packets = 0;
        std::uint64_t nullPackets = 0;
    };
    std::deque<Sample> m_samples;
};

// The null packets (PID 0x1FFF) a snapshot counted.
std::uint64_t nullPacketsOf(const StreamSnapshot& snapshot);

}  // namespace corvane::exporter
