#include "streams/ts_checks.h"

#include <algorithm>
#include <set>

namespace corvane {

namespace {

constexpr std::uint8_t kPatTableId = 0x00;
constexpr std::uint8_t kPmtTableId = 0x02;

}  // namespace

TransportStreamChecks::TransportStreamChecks(IndicatorLimits limits) : m_limits(limits) {}

TransportStreamChecks::PidState& TransportStreamChecks::state(std::uint16_t pid) {
    std::uint16_t& slot = m_index[pid];
    if (slot == 0) {
        m_pids.emplace_back();
        m_pids.back().pid = pid;
        slot = static_cast<std::uint16_t>(m_pids.size());
    }
    return m_pids[slot - 1u];
}

void TransportStreamChecks::packet(const std::uint8_t* packet, StreamTime arrival) {
    if (!m_started) {
        m_started = true;
        m_patWatch.start(arrival, m_limits.patInterval);
    }
    ++m_packets;
    if (!m_sync.packet(packet[0])) {
        return;
    }
    const std::uint16_t pid = tsPid(packet);
    PidState& s = state(pid);
    ++s.packets;
    if (pid == kNullPid) {
        ++m_nullPackets;
        return;
    }
    if (s.presence.active()) {
        s.presence.event(arrival);
    }
    if (tsHasPayload(packet) &&
        s.continuity.packet(tsContinuity(packet), tsDiscontinuity(packet))) {
        ++s.continuityErrors;
        ++m_continuityErrors;
    }
    if (pid == kPatPid) {
        checkPat(packet, arrival);
    } else if (s.isPmt) {
        checkPmt(s, packet, arrival);
    }
}

void TransportStreamChecks::checkPat(const std::uint8_t* packet, StreamTime arrival) {
    if (tsScrambled(packet)) {
        ++m_patTableErrors;
        return;
    }
    const std::size_t offset = tsPayloadOffset(packet);
    if (tsUnitStart(packet)) {
        const auto tableId = firstTableId(packet, offset);
        if (tableId && *tableId != kPatTableId) {
            ++m_patTableErrors;
            return;
        }
        if (tableId) {
            m_patWatch.event(arrival);
        }
    }
    m_patSections.payload(packet, offset, tsUnitStart(packet), [&](const std::uint8_t* section) {
        if (auto pat = decodePat(section)) {
            takePat(*pat, arrival);
        }
    });
}

void TransportStreamChecks::checkPmt(PidState& pmt, const std::uint8_t* packet,
                                     StreamTime arrival) {
    if (tsScrambled(packet)) {
        ++pmt.pmtTableErrors;
        return;
    }
    const std::size_t offset = tsPayloadOffset(packet);
    if (tsUnitStart(packet)) {
        const auto tableId = firstTableId(packet, offset);
        if (tableId && *tableId != kPmtTableId) {
            ++pmt.pmtTableErrors;
            return;
        }
        if (tableId) {
            pmt.pmtWatch.event(arrival);
        }
    }
    const std::uint16_t pmtPid = pmt.pid;
    pmt.sections.payload(packet, offset, tsUnitStart(packet), [&](const std::uint8_t* section) {
        if (auto decoded = decodePmt(section)) {
            takePmt(pmtPid, *decoded, arrival);
        }
    });
}

void TransportStreamChecks::takePat(const PatSection& pat, StreamTime arrival) {
    if (m_patVersion == pat.version) {
        return;  // the usual repetition: nothing changed
    }
    m_patVersion = pat.version;
    std::map<std::uint16_t, ServiceInfo> services;
    for (const PatProgram& program : pat.programs) {
        auto known = m_services.find(program.program);
        if (known != m_services.end() && known->second.pmtPid == program.pmtPid) {
            services.emplace(program.program, known->second);
        } else {
            services.emplace(program.program, ServiceInfo{program.program, program.pmtPid, {}, {}});
        }
    }
    m_services = std::move(services);
    std::set<std::uint16_t> pmtPids;
    for (const auto& [number, service] : m_services) {
        pmtPids.insert(service.pmtPid);
    }
    for (PidState& s : m_pids) {
        if (s.isPmt && pmtPids.count(s.pid) == 0) {
            s.isPmt = false;
            s.pmtWatch.stop(arrival);
        }
    }
    for (std::uint16_t pid : pmtPids) {
        PidState& s = state(pid);
        if (!s.isPmt) {
            s.isPmt = true;
            s.pmtWatch.start(arrival, m_limits.pmtInterval);
        }
    }
    watchNamedPids(arrival);
}

void TransportStreamChecks::takePmt(std::uint16_t pmtPid, const PmtSection& pmt,
                                    StreamTime arrival) {
    auto service = m_services.find(pmt.program);
    if (service == m_services.end() || service->second.pmtPid != pmtPid) {
        return;  // a program the PAT does not place on this PID
    }
    ServiceInfo& info = service->second;
    if (info.pcrPid == pmt.pcrPid && info.streams == pmt.streams) {
        return;
    }
    info.pcrPid = pmt.pcrPid;
    info.streams = pmt.streams;
    watchNamedPids(arrival);
}

// Every elementary PID that a PMT names is watched for presence from the moment it
// is named; a PID no PMT names any more stops being watched.
void TransportStreamChecks::watchNamedPids(StreamTime at) {
    std::set<std::uint16_t> named;
    for (const auto& [number, service] : m_services) {
        for (const ElementaryStream& stream : service.streams) {
            named.insert(stream.pid);
        }
    }
    for (PidState& s : m_pids) {
        if (s.presence.active() && named.count(s.pid) == 0) {
            s.presence.stop(at);
        }
    }
    for (std::uint16_t pid : named) {
        PidState& s = state(pid);
        if (!s.presence.active()) {
            s.presence.start(at, m_limits.pidAbsence);
        }
    }
}

IndicatorCounts TransportStreamChecks::counts(StreamTime now) const {
    IndicatorCounts counts;
    counts.tsSyncLoss = m_sync.syncLosses();
    counts.syncByteError = m_sync.syncByteErrors();
    counts.patError = m_patTableErrors + (m_started ? m_patWatch.count(now) : 0);
    counts.continuityCountError = m_continuityErrors;
    for (const PidState& s : m_pids) {
        counts.pmtError += s.pmtTableErrors + s.pmtWatch.count(now);
        counts.pidError += s.presence.count(now);
    }
    return counts;
}

std::vector<ServiceInfo> TransportStreamChecks::services() const {
    std::vector<ServiceInfo> services;
    for (const auto& [number, service] : m_services) {
        services.push_back(service);
    }
    return services;
}

std::vector<PidTally> TransportStreamChecks::pids() const {
    std::vector<PidTally> tallies;
    for (const PidState& s : m_pids) {
        if (s.packets > 0) {
            tallies.push_back(PidTally{s.pid, s.packets, s.continuityErrors});
        }
    }
    std::sort(tallies.begin(), tallies.end(),
              [](const PidTally& a, const PidTally& b) { return a.pid < b.pid; });
    return tallies;
}

}  // namespace corvane
