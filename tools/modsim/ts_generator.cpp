#include "ts_generator.h"

#include <algorithm>
#include <cmath>

namespace corvane::modsim {

namespace {

constexpr double kTablesEverySeconds = 0.1;
constexpr double kVideoUnitSeconds = 0.04;  // 25 frames a second
constexpr double kAudioUnitSeconds = 0.024;
constexpr double kPcrEverySeconds = 0.035;
constexpr std::uint64_t kPcrHz = 27000000;
constexpr std::uint8_t kStreamTypeVideo = 0x02;  // MPEG-2 video
constexpr std::uint8_t kStreamTypeAudio = 0x04;  // MPEG-2 audio

Bytes longSection(std::uint8_t tableId, std::uint16_t extension, const Bytes& body) {
    const std::size_t length = 5 + body.size() + 4;
    Bytes s = {tableId,
               static_cast<std::uint8_t>(0xB0 | length >> 8),
               static_cast<std::uint8_t>(length),
               static_cast<std::uint8_t>(extension >> 8),
               static_cast<std::uint8_t>(extension),
               0xC1,
               0x00,
               0x00};
    s.insert(s.end(), body.begin(), body.end());
    const std::uint32_t crc = mpegCrc(s.data(), s.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        s.push_back(static_cast<std::uint8_t>(crc >> shift));
    }
    return s;
}

Bytes patBytes() {
    return longSection(0x00, 1,
                       {0x00, kSimProgram, static_cast<std::uint8_t>(0xE0 | kSimPmtPid >> 8),
                        static_cast<std::uint8_t>(kSimPmtPid & 0xFF)});
}

Bytes pmtBytes() {
    auto pid = [](std::uint16_t p) {
        return Bytes{static_cast<std::uint8_t>(0xE0 | p >> 8), static_cast<std::uint8_t>(p & 0xFF)};
    };
    Bytes body = pid(kSimVideoPid);
    body.insert(body.end(), {0xF0, 0x00, kStreamTypeVideo});
    const Bytes video = pid(kSimVideoPid);
    body.insert(body.end(), video.begin(), video.end());
    body.insert(body.end(), {0xF0, 0x00, kStreamTypeAudio});
    const Bytes audio = pid(kSimAudioPid);
    body.insert(body.end(), audio.begin(), audio.end());
    body.insert(body.end(), {0xF0, 0x00});
    return longSection(0x02, kSimProgram, body);
}

void putHeader(Bytes& out, std::uint16_t pid, bool unitStart, std::uint8_t control,
               std::uint8_t counter) {
    out.push_back(0x47);
    out.push_back(static_cast<std::uint8_t>((unitStart ? 0x40 : 0) | pid >> 8));
    out.push_back(static_cast<std::uint8_t>(pid & 0xFF));
    out.push_back(static_cast<std::uint8_t>(control << 4 | (counter & 0x0F)));
}

}  // namespace

std::uint32_t mpegCrc(const std::uint8_t* data, std::size_t length) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= std::uint32_t{data[i]} << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}

TsGenerator::TsGenerator(double rate, bool stuffing, GeneratorContent content)
    : m_stuffing(stuffing), m_content(content), m_pat(patBytes()), m_pmt(pmtBytes()) {
    const double programme = kSimVideoRate + kSimAudioRate;
    const double total = stuffing ? std::max(rate, kSimMinimumRate) : programme;
    m_packetRate = total / (8.0 * kTsPacket);
    m_videoShare = kSimVideoRate / total;
    m_audioShare = kSimAudioRate / total;
}

std::uint8_t TsGenerator::nextCounter(std::uint16_t pid) {
    return m_counters[pid]++ & 0x0F;
}

void TsGenerator::nextPacket(Bytes& out, std::uint16_t& pid) {
    const auto every = [this](double seconds) {
        return std::max<std::uint64_t>(1, static_cast<std::uint64_t>(seconds * m_packetRate));
    };
    const std::uint64_t index = m_packetIndex++;
    if (m_content == GeneratorContent::onlyNull) {
        pid = kSimNullPid;
        nullPacket(out);
        return;
    }
    if (index >= m_nextTablesAt) {
        m_nextTablesAt = index + every(kTablesEverySeconds);
        m_tablesPending = m_content == GeneratorContent::programmeWithoutPat ? 1 : 2;
    }
    if (m_tablesPending > 0) {
        pid = m_tablesPending-- == 2 ? 0 : kSimPmtPid;
        tablePacket(out, pid, pid == 0 ? m_pat : m_pmt);
        return;
    }
    m_videoCredit += m_videoShare;
    m_audioCredit += m_audioShare;
    if (m_audioCredit >= 1) {
        m_audioCredit -= 1;
        pid = kSimAudioPid;
        elementaryPacket(out, pid, 0xC0, false);
    } else if (m_videoCredit >= 1 || !m_stuffing) {
        m_videoCredit = std::max(0.0, m_videoCredit - 1);
        pid = kSimVideoPid;
        const bool pcr = index >= m_nextPcrAt;
        if (pcr) {
            m_nextPcrAt = index + every(kPcrEverySeconds);
        }
        elementaryPacket(out, pid, 0xE0, pcr);
    } else {
        pid = kSimNullPid;
        nullPacket(out);
    }
}

void TsGenerator::tablePacket(Bytes& out, std::uint16_t pid, const Bytes& section) {
    putHeader(out, pid, true, 0x1, nextCounter(pid));
    out.push_back(0x00);  // pointer field
    out.insert(out.end(), section.begin(), section.end());
    out.resize(out.size() + kTsPacket - 5 - section.size(), 0xFF);
}

void TsGenerator::elementaryPacket(Bytes& out, std::uint16_t pid, std::uint8_t streamId,
                                   bool withPcr) {
    const std::size_t start = out.size();
    std::uint64_t& nextUnit = streamId == 0xE0 ? m_nextVideoUnitAt : m_nextAudioUnitAt;
    const double unitSeconds = streamId == 0xE0 ? kVideoUnitSeconds : kAudioUnitSeconds;
    const bool unitStart = m_packetIndex - 1 >= nextUnit;
    if (unitStart) {
        nextUnit = m_packetIndex - 1 + static_cast<std::uint64_t>(unitSeconds * m_packetRate);
    }
    putHeader(out, pid, unitStart, withPcr ? 0x3 : 0x1, nextCounter(pid));
    if (withPcr) {
        // The PCR counts this packet's place in the stream at the 27 MHz clock.
        const auto pcr = static_cast<std::uint64_t>(static_cast<double>(m_packetIndex - 1) /
                                                    m_packetRate * static_cast<double>(kPcrHz));
        const std::uint64_t base = pcr / 300 & 0x1FFFFFFFFull;
        const std::uint64_t extension = pcr % 300;
        out.insert(
            out.end(),
            {7, 0x10, static_cast<std::uint8_t>(base >> 25), static_cast<std::uint8_t>(base >> 17),
             static_cast<std::uint8_t>(base >> 9), static_cast<std::uint8_t>(base >> 1),
             static_cast<std::uint8_t>((base & 1) << 7 | 0x7E | extension >> 8),
             static_cast<std::uint8_t>(extension & 0xFF)});
    }
    if (unitStart) {
        // A PES header without length or PTS: enough for a stream to look like one.
        out.insert(out.end(), {0x00, 0x00, 0x01, streamId, 0x00, 0x00, 0x80, 0x00, 0x00});
    }
    out.resize(start + kTsPacket, static_cast<std::uint8_t>(pid & 0xFF));
}

void TsGenerator::nullPacket(Bytes& out) {
    putHeader(out, kSimNullPid, false, 0x1, 0);
    out.resize(out.size() + kTsPacket - 4, 0xFF);
}

}  // namespace corvane::modsim
