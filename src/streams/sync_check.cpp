#include "streams/sync_check.h"

#include "streams/ts_packet.h"

namespace corvane {

bool SyncCheck::packet(std::uint8_t firstByte) {
    const bool good = firstByte == kTsSyncByte;
    if (!m_inSync) {
        m_goodRun = good ? m_goodRun + 1 : 0;
        if (m_goodRun >= kSyncRegainedAfterGood) {
            m_inSync = true;
            m_badRun = 0;
            return true;  // the fifth good packet is the first one checked again
        }
        return false;
    }
    if (good) {
        m_badRun = 0;
        return true;
    }
    ++m_byteErrors;
    if (++m_badRun >= kSyncLostAfterBad) {
        ++m_losses;
        m_inSync = false;
        m_goodRun = 0;
    }
    return false;
}

}  // namespace corvane
