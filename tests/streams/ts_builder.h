// Transport stream packets, PSI sections and RTP datagrams built by hand for the
// tables of the stream tests. The CRC is computed here, independently of the
// library that checks it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "streams/stream_time.h"

namespace corvane::test {

using Bytes = std::vector<std::uint8_t>;
using Packet = std::array<std::uint8_t, 188>;

inline StreamTime at(int milliseconds) {
    return StreamTime{} + std::chrono::hours(1) + std::chrono::milliseconds(milliseconds);
}

struct PacketFields {
    std::uint16_t pid = 0x100;
    std::uint8_t cc = 0;
    bool payload = true;
    bool discontinuity = false;
    bool unitStart = false;
    bool scrambled = false;
    std::uint8_t sync = 0x47;
};

inline Packet tsPacket(const PacketFields& fields, const Bytes& body = {}) {
    Packet p;
    p.fill(0xFF);
    p[0] = fields.sync;
    p[1] = static_cast<std::uint8_t>((fields.unitStart ? 0x40 : 0) | (fields.pid >> 8));
    p[2] = static_cast<std::uint8_t>(fields.pid);
    const bool adaptation = fields.discontinuity || !fields.payload;
    p[3] = static_cast<std::uint8_t>((fields.scrambled ? 0x80 : 0) | (adaptation ? 0x20 : 0) |
                                     (fields.payload ? 0x10 : 0) | (fields.cc & 0x0F));
    std::size_t at = 4;
    if (adaptation) {
        p[4] = fields.payload ? 1 : 183;
        p[5] = fields.discontinuity ? 0x80 : 0x00;
        at = fields.payload ? 6 : 188;
    }
    for (std::size_t i = 0; i < body.size() && at + i < p.size(); ++i) {
        p[at + i] = body[i];
    }
    return p;
}

inline std::uint32_t mpegCrc32(const Bytes& data) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::uint8_t byte : data) {
        crc ^= std::uint32_t{byte} << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}

// A long-form section: table id, extension, version, the body, then the CRC.
inline Bytes section(std::uint8_t tableId, std::uint16_t extension, std::uint8_t version,
                     const Bytes& body) {
    const std::size_t length = 5 + body.size() + 4;
    Bytes s = {tableId,
               static_cast<std::uint8_t>(0xB0 | (length >> 8)),
               static_cast<std::uint8_t>(length),
               static_cast<std::uint8_t>(extension >> 8),
               static_cast<std::uint8_t>(extension),
               static_cast<std::uint8_t>(0xC1 | (version & 0x1F) << 1),
               0x00,
               0x00};
    s.insert(s.end(), body.begin(), body.end());
    const std::uint32_t crc = mpegCrc32(s);
    for (int shift = 24; shift >= 0; shift -= 8) {
        s.push_back(static_cast<std::uint8_t>(crc >> shift));
    }
    return s;
}

struct ProgramSpec {
    std::uint16_t program;
    std::uint16_t pmtPid;
};

inline Bytes patSection(const std::vector<ProgramSpec>& programs, std::uint8_t version = 0) {
    Bytes body;
    for (const auto& p : programs) {
        body.insert(
            body.end(),
            {static_cast<std::uint8_t>(p.program >> 8), static_cast<std::uint8_t>(p.program),
             static_cast<std::uint8_t>(0xE0 | p.pmtPid >> 8), static_cast<std::uint8_t>(p.pmtPid)});
    }
    return section(0x00, 1, version, body);
}

struct StreamSpec {
    std::uint16_t pid;
    std::uint8_t type;
};

inline Bytes pmtSection(std::uint16_t program, std::uint16_t pcrPid,
                        const std::vector<StreamSpec>& streams, std::uint8_t version = 0) {
    Bytes body = {static_cast<std::uint8_t>(0xE0 | pcrPid >> 8), static_cast<std::uint8_t>(pcrPid),
                  0xF0, 0x00};
    for (const auto& s : streams) {
        body.insert(body.end(), {s.type, static_cast<std::uint8_t>(0xE0 | s.pid >> 8),
                                 static_cast<std::uint8_t>(s.pid), 0xF0, 0x00});
    }
    return section(0x02, program, version, body);
}

// A section that fits one packet: the unit start, a zero pointer field, the section.
inline Packet psiPacket(std::uint16_t pid, std::uint8_t cc, const Bytes& sectionBytes) {
    Bytes body = {0x00};
    body.insert(body.end(), sectionBytes.begin(), sectionBytes.end());
    return tsPacket(PacketFields{pid, cc, true, false, true}, body);
}

inline Bytes datagramOf(const std::vector<Packet>& packets) {
    Bytes out;
    for (const auto& p : packets) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// An RTP header (version 2, payload type 33 unless told) in front of the packets.
inline Bytes rtpDatagram(std::uint16_t sequence, const std::vector<Packet>& packets,
                         std::uint8_t payloadType = 33) {
    Bytes out = {0x80,
                 payloadType,
                 static_cast<std::uint8_t>(sequence >> 8),
                 static_cast<std::uint8_t>(sequence),
                 0,
                 0,
                 0,
                 0,
                 0x12,
                 0x34,
                 0x56,
                 0x78};
    const Bytes payload = datagramOf(packets);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

}  // namespace corvane::test
