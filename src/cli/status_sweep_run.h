// corvanectl status's sweep: every target of the command in flight at once, as Check
// All does, with the open-file limit raised for it, and a failed socket explained.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/status_reading.h"
#include "net/wire_types.h"

namespace corvane::cli {

// Reads the status at each of `addresses` that is set (the others are left as they
// are: nothing is sent to them), every one in flight at once as far as the limit on
// open files allows; standard error says when even the hard limit is too low. The
// readings carry their exchange's steps, for socketProblem.
std::vector<StatusReading> sweepTargets(const LocalAddress& local,
                                        const std::vector<std::optional<Ipv4Address>>& addresses);

// What failed, and why in the system's words, for a reading whose sockets failed:
// "cannot open the socket for port 9100 from 10.77.0.1: Address already in use".
std::string socketProblem(const StatusReading& reading, const LocalAddress& local);

}  // namespace corvane::cli
