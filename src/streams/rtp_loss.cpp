#include "streams/rtp_loss.h"

namespace corvane {

void RtpLossCounter::datagram(std::uint16_t sequence, StreamTime arrival) {
    closeOldGaps(arrival);
    if (!m_started) {
        m_started = true;
        m_expected = static_cast<std::uint16_t>(sequence + 1);
        return;
    }
    const auto ahead = static_cast<std::uint16_t>(sequence - m_expected);
    if (ahead < 0x8000) {
        if (ahead > 0) {
            if (m_open.size() >= kRtpMaxOpenGaps) {
                m_counted += m_open.front().count;
                m_open.erase(m_open.begin());
            }
            m_open.push_back(Gap{m_expected, ahead, arrival});
        }
        m_expected = static_cast<std::uint16_t>(sequence + 1);
        return;
    }
    fillGap(sequence);  // behind the newest: late or repeated
}

void RtpLossCounter::closeOldGaps(StreamTime now) {
    std::size_t closed = 0;
    while (closed < m_open.size() && now - m_open[closed].seen > kRtpReorderWindow) {
        m_counted += m_open[closed].count;
        ++closed;
    }
    m_open.erase(m_open.begin(), m_open.begin() + static_cast<std::ptrdiff_t>(closed));
}

void RtpLossCounter::fillGap(std::uint16_t sequence) {
    for (std::size_t i = 0; i < m_open.size(); ++i) {
        Gap& gap = m_open[i];
        const auto offset = static_cast<std::uint16_t>(sequence - gap.first);
        if (offset >= gap.count) {
            continue;
        }
        // The late datagram splits its gap into what is missing before and after it.
        Gap after{static_cast<std::uint16_t>(sequence + 1), gap.count - offset - 1u, gap.seen};
        gap.count = offset;
        if (after.count > 0) {
            m_open.insert(m_open.begin() + static_cast<std::ptrdiff_t>(i) + 1, after);
        }
        if (m_open[i].count == 0) {
            m_open.erase(m_open.begin() + static_cast<std::ptrdiff_t>(i));
        }
        return;
    }
}

std::uint64_t RtpLossCounter::lost(StreamTime now) const {
    std::uint64_t lost = m_counted;
    for (const Gap& gap : m_open) {
        if (now - gap.seen > kRtpReorderWindow) {
            lost += gap.count;
        }
    }
    return lost;
}

}  // namespace corvane
