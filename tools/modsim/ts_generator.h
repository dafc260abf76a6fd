// A transport stream made here from the MPEG tables, independently of the program's
// own stream checks: one programme (PMT on 0x100, video on 0x101 carrying the PCR,
// audio on 0x102), PAT and PMT every 100 ms, null packets filling up to the rate.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "wire_bytes.h"

namespace corvane::modsim {

inline constexpr std::size_t kTsPacket = 188;
inline constexpr std::size_t kPacketsPerDatagram = 7;
inline constexpr std::uint16_t kSimPmtPid = 0x100;
inline constexpr std::uint16_t kSimVideoPid = 0x101;
inline constexpr std::uint16_t kSimAudioPid = 0x102;
inline constexpr std::uint16_t kSimNullPid = 0x1FFF;
inline constexpr std::uint16_t kSimProgram = 1;
// The programme's own rate: video and audio packets, tables on top.
inline constexpr double kSimVideoRate = 1000000;
inline constexpr double kSimAudioRate = 192000;
inline constexpr double kSimMinimumRate = 1400000;

enum class GeneratorContent { programme, onlyNull, programmeWithoutPat };

class TsGenerator {
public:
    // `rate` in bits per second of all packets; without stuffing the rate is the
    // programme's own and no null packet is made.
    TsGenerator(double rate, bool stuffing, GeneratorContent content);

    // Appends the next packet; `pid` tells which PID it has.
    void nextPacket(Bytes& out, std::uint16_t& pid);
    double packetRate() const { return m_packetRate; }

private:
    void tablePacket(Bytes& out, std::uint16_t pid, const Bytes& section);
    void elementaryPacket(Bytes& out, std::uint16_t pid, std::uint8_t streamId, bool withPcr);
    void nullPacket(Bytes& out);
    std::uint8_t nextCounter(std::uint16_t pid);

    double m_packetRate;  // packets per second of the whole stream
    bool m_stuffing;
    GeneratorContent m_content;
    std::uint64_t m_packetIndex = 0;
    double m_videoCredit = 0;
    double m_audioCredit = 0;
    double m_videoShare;
    double m_audioShare;
    std::uint64_t m_nextTablesAt = 0;  // packet index
    int m_tablesPending = 0;
    std::uint64_t m_nextVideoUnitAt = 0;
    std::uint64_t m_nextAudioUnitAt = 0;
    std::uint64_t m_nextPcrAt = 0;
    std::array<std::uint8_t, 0x2000> m_counters{};
    Bytes m_pat;
    Bytes m_pmt;
};

// CRC-32/MPEG-2 over a section's bytes.
std::uint32_t mpegCrc(const std::uint8_t* data, std::size_t length);

}  // namespace corvane::modsim
