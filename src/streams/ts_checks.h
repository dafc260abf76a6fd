// The first-priority checks on a stream's transport stream packets, packet by packet:
// synchronisation, sync bytes, PAT, continuity counters, PMTs and the presence of the
// PIDs the PMTs name. Also what the PAT and PMTs say (the services) and how many
// packets each PID had. Every packet comes with its arrival time.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "streams/continuity_check.h"
#include "streams/interval_watch.h"
#include "streams/psi_sections.h"
#include "streams/stream_time.h"
#include "streams/sync_check.h"
#include "streams/ts_packet.h"

namespace corvane {

struct IndicatorLimits {
    std::chrono::milliseconds patInterval{500};
    std::chrono::milliseconds pmtInterval{500};
    std::chrono::milliseconds pidAbsence{1000};
};

// The six first-priority indicators.
struct IndicatorCounts {
    std::uint64_t tsSyncLoss = 0;
    std::uint64_t syncByteError = 0;
    std::uint64_t patError = 0;
    std::uint64_t continuityCountError = 0;
    std::uint64_t pmtError = 0;
    std::uint64_t pidError = 0;

    std::uint64_t total() const {
        return tsSyncLoss + syncByteError + patError + continuityCountError + pmtError + pidError;
    }
    bool operator==(const IndicatorCounts&) const = default;
};

struct ServiceInfo {
    std::uint16_t program = 0;
    std::uint16_t pmtPid = 0;
    std::optional<std::uint16_t> pcrPid;  // known once the PMT has arrived
    std::vector<ElementaryStream> streams;
};

struct PidTally {
    std::uint16_t pid = 0;
    std::uint64_t packets = 0;
    std::uint64_t continuityErrors = 0;
};

class TransportStreamChecks {
public:
    explicit TransportStreamChecks(IndicatorLimits limits = {});

    // One 188-byte packet. The first packet starts the PAT's interval.
    void packet(const std::uint8_t* packet, StreamTime arrival);

    // Open intervals longer than their limit at `now` are counted.
    IndicatorCounts counts(StreamTime now) const;
    std::vector<ServiceInfo> services() const;  // by program number
    std::vector<PidTally> pids() const;         // by PID
    std::uint64_t packets() const { return m_packets; }
    std::uint64_t nullPackets() const { return m_nullPackets; }

private:
    struct PidState {
        std::uint16_t pid = 0;
        std::uint64_t packets = 0;
        std::uint64_t continuityErrors = 0;
        ContinuityCheck continuity;
        IntervalWatch presence;  // active while a PMT names the PID
        bool isPmt = false;
        IntervalWatch pmtWatch;
        std::uint64_t pmtTableErrors = 0;
        SectionAssembler sections;
    };

    PidState& state(std::uint16_t pid);
    void checkPat(const std::uint8_t* packet, StreamTime arrival);
    void checkPmt(PidState& pmt, const std::uint8_t* packet, StreamTime arrival);
    void takePat(const PatSection& pat, StreamTime arrival);
    void takePmt(std::uint16_t pmtPid, const PmtSection& pmt, StreamTime arrival);
    void watchNamedPids(StreamTime at);

    IndicatorLimits m_limits;
    std::array<std::uint16_t, kPidCount> m_index{};  // 0: not seen; else index + 1
    std::deque<PidState> m_pids;  // a deque: references stay valid as PIDs are added
    SyncCheck m_sync;
    bool m_started = false;
    std::uint64_t m_packets = 0;
    std::uint64_t m_nullPackets = 0;
    std::uint64_t m_continuityErrors = 0;
    IntervalWatch m_patWatch;
    std::uint64_t m_patTableErrors = 0;
    SectionAssembler m_patSections;
    std::optional<std::uint8_t> m_patVersion;
    std::map<std::uint16_t, ServiceInfo> m_services;  // by program number
};

}  // namespace corvane
