// What a stream measurement has found so far, read at any moment: the fields that
// corvanectl prints, the exporter turns into metrics and the window sums up.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "streams/datagram_payload.h"
#include "streams/stream_destination.h"
#include "streams/ts_checks.h"

namespace corvane {

struct PidReading {
    std::uint16_t pid = 0;
    std::uint64_t packets = 0;
    double bitrate = 0;  // bits per second
    std::uint64_t continuityCountErrors = 0;
};

struct StreamSnapshot {
    StreamDestination destination;
    bool arrived = false;
    std::optional<Encapsulation> encapsulation;  // of the latest datagram
    bool encapsulationAsSet = true;              // false when it differs from the protocol setting
    double seconds = 0;                          // since the measurement started
    std::uint64_t datagrams = 0;
    std::uint64_t packets = 0;
    double bitrate = 0;     // bits per second of all packets, while datagrams arrived
    double netBitrate = 0;  // the same without null packets
    bool onlyStuffing = false;
    IndicatorCounts errors;
    std::uint64_t rtpLost = 0;      // missing RTP sequence numbers, beyond the socket drops
    std::uint64_t socketDrops = 0;  // dropped by this computer's kernel for lack of room
    double maxGapMs = 0;
    std::optional<double> sinceLastDatagramMs;
    std::vector<ServiceInfo> services;
    std::vector<PidReading> pids;
    // Beside the checks: what was not taken, and the receive buffer granted.
    std::uint64_t foreignDatagrams = 0;    // from another source than the expected one
    std::uint64_t malformedDatagrams = 0;  // cut, or not whole 188-byte packets
    int receiveBufferBytes = 0;

    // Arrived, no first-priority error, no RTP loss, not only stuffing.
    bool healthy() const { return arrived && errors.total() == 0 && rtpLost == 0 && !onlyStuffing; }
};

}  // namespace corvane
