#include "devices/found_modules.h"

#include <algorithm>

namespace corvane {

std::vector<FoundModule> sortFoundModules(const std::vector<DeviceHello>& found) {
    std::vector<FoundModule> modules;
    modules.reserve(found.size());
    for (const DeviceHello& hello : found) {
        const auto sameIp = std::count_if(
            found.begin(), found.end(),
            [&](const DeviceHello& other) { return other.ipAddress == hello.ipAddress; });
        modules.push_back(FoundModule{hello, sameIp > 1});
    }
    // Byte order of the MAC is the order of its text.
    std::sort(modules.begin(), modules.end(),
              [](const FoundModule& a, const FoundModule& b) { return a.hello.mac < b.hello.mac; });
    return modules;
}

}  // namespace corvane
