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
    Ipv4Address ip;
    std::uint16_t port = 0;
    bool running = false;
};

struct InputSummary {
    Ipv4Address ip;  // the only accepted source; unspecified for any
    std::uint16_t port = 0;
};

struct StatusSummary {
    bool answered = false;
    bool running = false;  // isOutputActive
    bool entries = false;  // the module reported output or input entries
    // The single form (entries false):
    std::uint8_t protocol = 0;  // index into kProtocolNames
    Ipv4Address destinationIp;
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
std::string formatEndpoint(Ipv4Address ip, std::uint16_t port);

}  // namespace corvane
