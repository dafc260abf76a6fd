#include "exporter/stream_window.h"

#include <algorithm>

namespace corvane::exporter {
namespace {

constexpr std::uint16_t kNullPid = 0x1FFF;
constexpr double kBitsPerPacket = 188 * 8;
constexpr std::chrono::milliseconds kSampleEvery{1000};

}  // namespace

std::uint64_t nullPacketsOf(const StreamSnapshot& snapshot) {
    for (const PidReading& pid : snapshot.pids) {
        if (pid.pid == kNullPid) {
            return pid.packets;
        }
    }
    return 0;
}

void StreamWindow::sample(StreamTime now, const StreamSnapshot& snapshot) {
    if (!m_samples.empty() && now - m_samples.back().at < kSampleEvery) {
        return;
    }
    m_samples.push_back({now, snapshot.packets, nullPacketsOf(snapshot)});
    // One sample older than the span is all a reading needs.
    while (m_samples.size() > 1 && now - m_samples[1].at >= kRecentSpan) {
        m_samples.pop_front();
    }
}

RecentFigures StreamWindow::figures(StreamTime now, const StreamSnapshot& snapshot) const {
    RecentFigures f;
    f.up = snapshot.sinceLastDatagramMs && *snapshot.sinceLastDatagramMs <= kStreamUpWithinMs;
    // The newest sample at least a span old; none yet: the measurement is young.
    auto base = std::find_if(m_samples.rbegin(), m_samples.rend(),
                             [&](const Sample& s) { return now - s.at >= kRecentSpan; });
    if (base == m_samples.rend()) {
        f.bitrate = snapshot.bitrate;
        f.netBitrate = snapshot.netBitrate;
        f.onlyStuffing = snapshot.onlyStuffing;
        return f;
    }
    const double seconds = std::chrono::duration<double>(now - base->at).count();
    const std::uint64_t packets = snapshot.packets - std::min(snapshot.packets, base->packets);
    const std::uint64_t nulls =
        nullPacketsOf(snapshot) - std::min(nullPacketsOf(snapshot), base->nullPackets);
    f.bitrate = static_cast<double>(packets) * kBitsPerPacket / seconds;
    f.netBitrate =
        static_cast<double>(packets - std::min(packets, nulls)) * kBitsPerPacket / seconds;
    f.onlyStuffing = packets > 0 && nulls >= packets;
    return f;
}

}  // namespace corvane::exporter
