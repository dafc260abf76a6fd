// What the IP output dialog's foot line says about the stream that arrives at this
// computer. Fed one snapshot of the measurement a second; the bitrates are those of the
// last second, the errors those of the last ten seconds (the counters of the last ten
// snapshots are kept). Qt-free, so the figures and the texts are tested without a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "streams/stream_snapshot.h"
#include "streams/stream_time.h"

namespace corvane {

enum class StreamReadoutKind { nothing, onlyStuffing, arriving };

struct StreamReadoutFigures {
    StreamReadoutKind kind = StreamReadoutKind::nothing;
    double bitrate = 0;     // bits per second
    double netBitrate = 0;  // the same without null packets
    std::uint64_t continuityErrors = 0;
    // Every other first-priority error, and the RTP datagrams lost, in the same window.
    std::uint64_t otherErrors = 0;
};

class StreamReadout {
public:
    static constexpr std::size_t kWindowSeconds = 10;
    // Nothing for this long is "nothing arrives", though datagrams came before.
    static constexpr double kQuietMs = 2000;

    void add(const StreamSnapshot& snapshot, StreamTime now);
    StreamReadoutFigures figures() const;

private:
    struct Sample {
        StreamTime at;
        std::uint64_t packets = 0;
        std::uint64_t nullPackets = 0;
        std::uint64_t continuityErrors = 0;
        std::uint64_t otherErrors = 0;
        bool arrivedRecently = false;
        double bitrate = 0;  // over the whole measurement: the first second's figure
        double netBitrate = 0;
        bool onlyStuffing = false;
    };
    // The newest sample and the ten before it: the errors of the last ten seconds are
    // the newest counters less the oldest ones.
    std::deque<Sample> m_samples;
};

// "38.2" or, in Russian, "38,2": megabits per second, with two decimals below 1 Mbit/s
// and none from 1000 up.
std::string megabitsText(double bitsPerSecond, bool russian);

// The foot line for `figures`, in the current language.
std::string streamReadoutText(const StreamReadoutFigures& figures);

}  // namespace corvane
