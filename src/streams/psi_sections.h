// Program-specific information: sections put together from the packets of one PID,
// and the PAT and PMT decoded from them. Sections are assembled and validated (length,
// CRC, layout) by VideoLAN's biTStream; a section that fails is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace corvane {

class SectionAssembler {
public:
    SectionAssembler() = default;
    SectionAssembler(const SectionAssembler&) = delete;
    SectionAssembler& operator=(const SectionAssembler&) = delete;
    SectionAssembler(SectionAssembler&& other) noexcept;
    SectionAssembler& operator=(SectionAssembler&& other) noexcept;
    ~SectionAssembler();

    // Takes one packet's payload; calls `complete` for every section it completes.
    // The section is valid only during the call.
    void payload(const std::uint8_t* packet, std::size_t payloadOffset, bool unitStart,
                 const std::function<void(const std::uint8_t*)>& complete);

private:
    void reset();
    std::uint8_t* m_buffer = nullptr;
    std::uint16_t m_used = 0;
};

struct PatProgram {
    std::uint16_t program = 0;
    std::uint16_t pmtPid = 0;
};

struct PatSection {
    std::uint8_t version = 0;
    std::vector<PatProgram> programs;  // the network PID (program 0) left out
};

struct ElementaryStream {
    std::uint16_t pid = 0;
    std::uint8_t type = 0;
    bool operator==(const ElementaryStream&) const = default;
};

struct PmtSection {
    std::uint16_t program = 0;
    std::uint8_t version = 0;
    std::uint16_t pcrPid = 0;
    std::vector<ElementaryStream> streams;
};

// Nothing when the section is not a valid PAT (or PMT), CRC included.
std::optional<PatSection> decodePat(const std::uint8_t* section);
std::optional<PmtSection> decodePmt(const std::uint8_t* section);

// The table id of the first section starting in a packet whose payload starts a unit,
// or nothing when the pointer field points past the packet.
std::optional<std::uint8_t> firstTableId(const std::uint8_t* packet, std::size_t payloadOffset);

}  // namespace corvane
