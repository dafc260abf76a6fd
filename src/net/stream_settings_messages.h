// The three messages addressed to one module: read its stream settings and state,
// start or stop its IP output, read its passport block.
#pragma once

#include <cstdint>

#include "net/wire_types.h"

namespace corvane {

// Overwrites `settings` with the module's status; false (settings all zero) when the
// module does not answer or answers with another tag.
bool getStreamSettings(const LocalAddress& localAddress, Ipv4Address deviceIp,
                       StreamSettings& settings);

// Sends the single-form settings request. The module does not answer, so the result
// only says whether the request went out on at least one socket.
bool setStreamSettings(const LocalAddress& localAddress, Ipv4Address deviceIp,
                       const StreamSettings& settings);

// Overwrites `data` with the module's passport block (zero beyond the bytes received).
// False when no reply of at least 290 bytes arrives or its tag is not "WiZnPaSs";
// in the latter case `data` holds the unexpected reply.
bool getPassportData(const LocalAddress& localAddress, Ipv4Address deviceIp, PassportData& data);

}  // namespace corvane
