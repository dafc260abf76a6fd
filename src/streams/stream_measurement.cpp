#include "streams/stream_measurement.h"

#include <algorithm>

namespace corvane {

namespace {

constexpr double kBitsPerPacket = 8.0 * kTsPacketSize;

}  // namespace

StreamMeasurement::StreamMeasurement(const StreamDestination& destination, StreamTime started,
                                     StreamMeasurementOptions options)
    : m_destination(destination),
      m_started(started),
      m_options(options),
      m_checks(options.limits) {}

void StreamMeasurement::arrivedAt(StreamTime arrival) {
    if (m_datagrams > 0) {
        m_maxGapMs = std::max(m_maxGapMs, millisecondsBetween(m_last, arrival));
    } else {
        m_first = arrival;
    }
    m_last = arrival;
    ++m_datagrams;
}

void StreamMeasurement::datagram(const std::uint8_t* data, std::size_t length, StreamTime arrival) {
    const bool first = m_datagrams == 0;
    arrivedAt(arrival);
    const DatagramPayload payload = unwrapDatagram(data, length, m_options.protocol);
    m_encapsulation = payload.encapsulation;
    if (payload.rtpSequence) {
        m_rtp.datagram(*payload.rtpSequence, arrival);
    }
    if (payload.leftoverBytes != 0 || payload.packetCount == 0) {
        ++m_malformed;
    }
    for (std::size_t i = 0; i < payload.packetCount; ++i) {
        m_checks.packet(payload.packets + i * kTsPacketSize, arrival);
    }
    if (first) {
        m_firstDatagramPackets = payload.packetCount;
    }
}

void StreamMeasurement::truncatedDatagram(StreamTime arrival) {
    arrivedAt(arrival);
    ++m_malformed;
}

StreamSnapshot StreamMeasurement::snapshot(StreamTime now) const {
    StreamSnapshot s;
    s.destination = m_destination;
    s.seconds = std::max(0.0, millisecondsBetween(m_started, now) / 1000.0);
    s.arrived = m_datagrams > 0;
    s.encapsulation = m_encapsulation;
    const auto expected = expectedEncapsulation(m_options.protocol);
    s.encapsulationAsSet = !m_encapsulation || !expected || *expected == *m_encapsulation;
    s.datagrams = m_datagrams;
    s.packets = m_checks.packets();
    // The rate while datagrams arrive: the packets after the first datagram over the
    // time from its arrival to the latest one's.
    const double span = m_datagrams > 1 ? millisecondsBetween(m_first, m_last) / 1000.0 : 0;
    if (span > 0 && s.packets > 0) {
        s.bitrate = static_cast<double>(s.packets - m_firstDatagramPackets) * kBitsPerPacket / span;
        s.netBitrate = s.bitrate * static_cast<double>(s.packets - m_checks.nullPackets()) /
                       static_cast<double>(s.packets);
    }
    s.onlyStuffing = s.packets > 0 && m_checks.nullPackets() == s.packets;
    s.errors = m_checks.counts(now);
    // Datagrams this computer's kernel dropped leave gaps in the sequence too; they are
    // counted as socket drops, so that the module is not blamed for them.
    const std::uint64_t gaps = m_rtp.lost(now);
    s.rtpLost = gaps > m_socketDrops ? gaps - m_socketDrops : 0;
    s.socketDrops = m_socketDrops;
    s.maxGapMs = m_maxGapMs;
    if (s.arrived) {
        s.sinceLastDatagramMs = std::max(0.0, millisecondsBetween(m_last, now));
    }
    s.services = m_checks.services();
    for (const PidTally& tally : m_checks.pids()) {
        const double share =
            s.packets > 0 ? static_cast<double>(tally.packets) / static_cast<double>(s.packets) : 0;
        s.pids.push_back(
            PidReading{tally.pid, tally.packets, s.bitrate * share, tally.continuityErrors});
    }
    s.foreignDatagrams = m_foreign;
    s.malformedDatagrams = m_malformed;
    return s;
}

}  // namespace corvane
