// Synchronisation on the sync byte: in sync, every packet whose first byte is not
// 0x47 is a sync byte error, and two such packets in a row lose the synchronisation;
// five good packets in a row regain it. Packets taken while out of sync are not
// checked further.
#pragma once

#include <cstdint>

namespace corvane {

inline constexpr int kSyncLostAfterBad = 2;
inline constexpr int kSyncRegainedAfterGood = 5;

class SyncCheck {
public:
    // Whether the packet is in sync and starts with the sync byte (fit to check).
    bool packet(std::uint8_t firstByte);

    std::uint64_t syncLosses() const { return m_losses; }
    std::uint64_t syncByteErrors() const { return m_byteErrors; }

private:
    bool m_inSync = true;  // datagrams carry whole packets, so the first one is aligned
    int m_badRun = 0;
    int m_goodRun = 0;
    std::uint64_t m_losses = 0;
    std::uint64_t m_byteErrors = 0;
};

}  // namespace corvane
