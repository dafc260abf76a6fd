#include "streams/psi_sections.h"

#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/psi/pat.h>
#include <bitstream/mpeg/psi/pmt.h>

#include <utility>

#include "streams/ts_packet.h"

namespace corvane {

SectionAssembler::SectionAssembler(SectionAssembler&& other) noexcept
    : m_buffer(std::exchange(other.m_buffer, nullptr)), m_used(std::exchange(other.m_used, 0)) {}

SectionAssembler& SectionAssembler::operator=(SectionAssembler&& other) noexcept {
    if (this != &other) {
        reset();
        m_buffer = std::exchange(other.m_buffer, nullptr);
        m_used = std::exchange(other.m_used, 0);
    }
    return *this;
}

SectionAssembler::~SectionAssembler() {
    reset();
}

void SectionAssembler::reset() {
    psi_assemble_reset(&m_buffer, &m_used);
}

void SectionAssembler::payload(const std::uint8_t* packet, std::size_t payloadOffset,
                               bool unitStart,
                               const std::function<void(const std::uint8_t*)>& complete) {
    if (payloadOffset >= kTsPacketSize) {
        return;
    }
    const std::uint8_t* data = packet + payloadOffset;
    auto length = static_cast<std::uint8_t>(kTsPacketSize - payloadOffset);
    auto feed = [&](std::uint8_t& remaining) {
        while (remaining > 0) {
            std::uint8_t* section = psi_assemble_payload(&m_buffer, &m_used, &data, &remaining);
            if (section != nullptr) {
                complete(section);
                free(section);  // allocated by biTStream with malloc
            }
        }
    };
    if (!unitStart) {
        if (!psi_assemble_empty(&m_buffer, &m_used)) {
            feed(length);
        }
        return;
    }
    const std::uint8_t pointer = data[0];
    ++data;
    --length;
    if (pointer > length) {
        reset();
        return;
    }
    // The bytes before the pointer end the section already started, if any.
    std::uint8_t tail = pointer;
    if (!psi_assemble_empty(&m_buffer, &m_used)) {
        feed(tail);
    }
    reset();
    data = packet + payloadOffset + 1 + pointer;
    std::uint8_t rest = static_cast<std::uint8_t>(length - pointer);
    feed(rest);
}

std::optional<PatSection> decodePat(const std::uint8_t* section) {
    if (!psi_validate(section) || !pat_validate(section) || !psi_check_crc(section)) {
        return std::nullopt;
    }
    PatSection pat;
    pat.version = psi_get_version(section);
    std::uint8_t* writable =
        const_cast<std::uint8_t*>(section);  // biTStream's getters take no const
    const std::uint8_t* entry = nullptr;
    for (std::uint8_t n = 0; (entry = pat_get_program(writable, n)) != nullptr; ++n) {
        if (patn_get_program(entry) != 0) {
            pat.programs.push_back(PatProgram{patn_get_program(entry), patn_get_pid(entry)});
        }
    }
    return pat;
}

std::optional<PmtSection> decodePmt(const std::uint8_t* section) {
    if (!psi_validate(section) || !pmt_validate(section)) {
        return std::nullopt;
    }
    PmtSection pmt;
    pmt.program = psi_get_tableidext(section);
    pmt.version = psi_get_version(section);
    pmt.pcrPid = pmt_get_pcrpid(section);
    std::uint8_t* writable = const_cast<std::uint8_t*>(section);
    const std::uint8_t* entry = nullptr;
    for (std::uint8_t n = 0; (entry = pmt_get_es(writable, n)) != nullptr; ++n) {
        pmt.streams.push_back(ElementaryStream{pmtn_get_pid(entry), pmtn_get_streamtype(entry)});
    }
    return pmt;
}

std::optional<std::uint8_t> firstTableId(const std::uint8_t* packet, std::size_t payloadOffset) {
    if (payloadOffset >= kTsPacketSize - 1) {
        return std::nullopt;
    }
    const std::size_t at = payloadOffset + 1 + packet[payloadOffset];
    if (at >= kTsPacketSize) {
        return std::nullopt;
    }
    return packet[at];
}

}  // namespace corvane
