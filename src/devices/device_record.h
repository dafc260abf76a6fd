// One listed module and the operator's list of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/wire_types.h"

namespace corvane {

// The Add command refuses to grow the list beyond this.
inline constexpr std::size_t MAX_DEVICES = 128;

struct DeviceRecord {
    Ipv4Address ipAddress;   // the key for every exchange
    std::string macAddress;  // "00:11:22:33:44:55", or empty when never learned
    // For this run only, never persisted:
    bool queried = false;            // a status read was made
    bool responded = false;          // the last status read got an answer
    StreamSettings savedSettings{};  // output settings last used; four fields persist
    StreamSettings liveStatus{};     // what the module reported at the last status read

    // A record made by the Add command: RTP to 224.0.0.1 port 1234. Records loaded
    // from the settings file do not get these values; absent keys load as 0.
    static DeviceRecord newRecord();
};

using DeviceList = std::vector<DeviceRecord>;

// Whether the module's IP output runs, judged from what it reported: a single-output
// module by bits 0 and 1 of its mode, a multi-stream module by the state of its
// output entries (input entries never count).
bool isOutputActive(const StreamSettings& status);
bool isOutputActive(const DeviceRecord& record);

// The result of one status read: the reported settings and answered, or all zero
// and not answered. Either way the record has now been queried.
void applyStatusRead(DeviceRecord& record, bool answered, const StreamSettings& reported);

}  // namespace corvane
