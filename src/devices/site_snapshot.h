// A site's modules as one record: what a search and a status read say about each,
// merged by MAC. The site file holds it, diff compares two of them and apply plans
// from one to another; none of these needs to know the file's format.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "devices/status_summary.h"
#include "net/wire_types.h"

namespace corvane {

// A module's IP output as it reported it.
struct SiteOutput {
    bool entries = false;  // the entry-list form; otherwise the single form
    bool running = false;
    // The single form:
    std::uint8_t protocol = 0;  // index into kProtocolNames
    Ipv4Address destinationIp;
    std::uint16_t destinationPort = 0;
    bool noStuffing = false;
    // The entry-list form, kept to be shown and compared, never sent:
    std::vector<OutputSummary> outputs;
    std::vector<InputSummary> inputs;
};

struct SiteModule {
    MacAddress mac{};
    Ipv4Address ip;
    Ipv4Address mask;
    Ipv4Address gateway;
    bool answered = true;  // its status was read; `output` holds it
    SiteOutput output;
};

struct SiteSnapshot {
    std::string takenAt;              // UTC, ISO 8601
    Ipv4Address from;                 // the local address that asked
    std::vector<SiteModule> modules;  // sorted by MAC, one per MAC
};

// The module a search reply describes; not answered until a status is merged in.
SiteModule siteModuleOf(const DeviceHello& hello);

// Merges a status reading into `module`.
void mergeStatus(SiteModule& module, const StatusSummary& status);

// Sorts by MAC, the order of the file and of every report.
void sortSiteModules(std::vector<SiteModule>& modules);

// "rtp+", "rtp", "udp" (the site file's names); the index as a number when unknown.
std::string siteProtocolName(std::uint8_t protocol);

// The fields of a module an operator compares, in the file's order, each as its text:
// network fields first, then "answered", then the output's (only when it answered).
std::vector<std::pair<std::string, std::string>> siteFields(const SiteModule& module);

}  // namespace corvane
