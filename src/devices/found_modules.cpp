#include "devices/found_modules.h"

#include <algorithm>

#include "devices/shared_address.h"

namespace corvane {

std::vector<FoundModule> sortFoundModules(const std::vector<DeviceHello>& found) {
    std::vector<FoundModule> modules;
    modules.reserve(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        modules.push_back(FoundModule{found[i], !othersSharingAddress(found, i).empty()});
    }
    // Byte order of the MAC is the order of its text.
    std::sort(modules.begin(), modules.end(),
              [](const FoundModule& a, const FoundModule& b) { return a.hello.mac < b.hello.mac; });
    return modules;
}

}  // namespace corvane
