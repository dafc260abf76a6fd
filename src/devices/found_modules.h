// The modules a search found, in the order an operator reads them.
#pragma once

#include <vector>

#include "net/wire_types.h"

namespace corvane {

struct FoundModule {
    DeviceHello hello{};
    // Another found module reports the same IP address: whichever of them a command
    // to that address reaches is a matter of chance.
    bool duplicateAddress = false;
};

// The search's records sorted by MAC address, each marked when another of them has
// the same IP address.
std::vector<FoundModule> sortFoundModules(const std::vector<DeviceHello>& found);

}  // namespace corvane
