// The simulator answers broadcasts and can flood a segment with junk, so it refuses to
// run anywhere but a lab namespace: every network interface it can see must be the
// loopback or a virtual lab link (veth, bridge, dummy). On a machine's real network
// namespace the physical adapter fails the check.
#pragma once

#include <string>

namespace corvane::modsim {

// Returns true when only lab interfaces are present; otherwise names the first other
// interface (and its driver) in `offending`.
bool onlyLabInterfaces(std::string& offending);

}  // namespace corvane::modsim
