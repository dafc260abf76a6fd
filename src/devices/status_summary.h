// What a module's status says, in the terms an operator asks about: does it answer, does
// its output run, and where does each output go. For the front ends that print or export
// a status reading rather than show it in the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/wire_types.h"

namespace corvane {

struct OutputSummary {
    std::uint32_t ip = 0;  // stored form
    std::uint16_t port = 0;
    bool running = false;
};

struct InputSummary {
    std::uint32_t ip = 0;  // the only accepted source, stored form; 0 for any
    std::uint16_t port = 0;
};

struct StatusSummary {
    bool answered = false;
    bool running = false;  // isOutputActive
    bool entries = false;  // the module reported output or input entries
    // The single form (entries false):
    std::uint8_t protocol = 0;  // index into kProtocolNames
    std::uint32_t destinationIp = 0;
    std::uint16_t destinationPort = 0;
    bool noStuffing = false;
    // The entry-list form (entries true), at most kMaxStreamEntries of each:
    std::vector<OutputSummary> outputs;
    std::vector<InputSummary> inputs;
};

// A reading that did not answer gives only answered = false.
StatusSummary summarizeStatus(bool answered, const StreamSettings& status);

// "RTP+", "RTP" or "UDP"; an index the program does not know as its decimal number.
std::string protocolName(std::uint8_t protocol);

// "a.b.c.d:port".
std::string formatEndpoint(std::uint32_t ip, std::uint16_t port);

}  // namespace corvane
