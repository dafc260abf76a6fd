// Counts intervals longer than a limit without an expected event (a PAT section, a
// PMT section, a packet of a PID). An interval still open when the count is read
// already counts once if it has grown past the limit, and is not counted again when
// the event finally comes, so the count never goes down.
#pragma once

#include <chrono>
#include <cstdint>

#include "streams/stream_time.h"

namespace corvane {

class IntervalWatch {
public:
    void start(StreamTime at, std::chrono::nanoseconds limit) {
        m_last = at;
        m_limit = limit;
        m_active = true;
    }
    void event(StreamTime at) {
        if (m_active && at - m_last > m_limit) {
            ++m_count;
        }
        m_last = at;
    }
    // Ends the watch; an open interval longer than the limit is counted.
    void stop(StreamTime at) {
        m_count = count(at);
        m_active = false;
    }
    bool active() const { return m_active; }
    std::uint64_t count(StreamTime now) const {
        return m_count + (m_active && now - m_last > m_limit ? 1 : 0);
    }

private:
    StreamTime m_last{};
    std::chrono::nanoseconds m_limit{0};
    std::uint64_t m_count = 0;
    bool m_active = false;
};

}  // namespace corvane
