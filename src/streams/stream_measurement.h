// One stream's measurement, without sockets: started on a destination, fed every
// datagram with its arrival time, read at any time as a snapshot. A receive loop
// (StreamMonitor) or a test feeds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "streams/datagram_payload.h"
#include "streams/rtp_loss.h"
#include "streams/stream_destination.h"
#include "streams/stream_snapshot.h"
#include "streams/stream_time.h"
#include "streams/ts_checks.h"

namespace corvane {

struct StreamMeasurementOptions {
    StreamProtocol protocol = StreamProtocol::unknown;  // the module's setting
    IndicatorLimits limits;
};

class StreamMeasurement {
public:
    StreamMeasurement(const StreamDestination& destination, StreamTime started,
                      StreamMeasurementOptions options = {});

    void datagram(const std::uint8_t* data, std::size_t length, StreamTime arrival);
    // A datagram cut by the receive buffer: counted, not checked.
    void truncatedDatagram(StreamTime arrival);
    void foreignDatagram() { ++m_foreign; }
    void socketDrops(std::uint64_t count) { m_socketDrops += count; }

    StreamSnapshot snapshot(StreamTime now) const;

private:
    void arrivedAt(StreamTime arrival);

    StreamDestination m_destination;
    StreamTime m_started;
    StreamMeasurementOptions m_options;
    TransportStreamChecks m_checks;
    RtpLossCounter m_rtp;
    std::optional<Encapsulation> m_encapsulation;
    std::uint64_t m_datagrams = 0;
    std::uint64_t m_foreign = 0;
    std::uint64_t m_malformed = 0;
    std::uint64_t m_socketDrops = 0;
    std::uint64_t m_firstDatagramPackets = 0;
    StreamTime m_first{};
    StreamTime m_last{};
    double m_maxGapMs = 0;
};

}  // namespace corvane
