// The continuity counter of one PID: each payload-carrying packet must carry the next
// value, or repeat the last one once. The first packet and a packet whose adaptation
// field sets the discontinuity indicator start afresh.
#pragma once

#include <cstdint>

namespace corvane {

class ContinuityCheck {
public:
    // Whether this payload-carrying packet breaks the count.
    bool packet(std::uint8_t counter, bool discontinuity) {
        if (m_last < 0 || discontinuity) {
            restart(counter);
            return false;
        }
        if (counter == ((m_last + 1) & 0x0F)) {
            restart(counter);
            return false;
        }
        if (counter == m_last && !m_repeated) {
            m_repeated = true;
            return false;
        }
        restart(counter);
        return true;
    }

private:
    void restart(std::uint8_t counter) {
        m_last = counter;
        m_repeated = false;
    }

    std::int8_t m_last = -1;
    bool m_repeated = false;
};

}  // namespace corvane
