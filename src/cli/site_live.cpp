#include "cli/site_live.h"

#include <cerrno>
#include <ctime>
#include <iostream>
#include <map>

#include "cli/cli_session.h"
#include "cli/progress_line.h"
#include "cli/status_sweep_run.h"
#include "devices/found_modules.h"
#include "net/device_search.h"
#include "reports/address_formats.h"

namespace corvane::cli {

std::vector<SiteModule> searchSite(const LocalAddress& local) {
    std::vector<DeviceHello> found;
    bool searched = false;
    int error = 0;
    {
        const ProgressLine progress([] { return std::string("Searching..."); });
        errno = 0;
        searched = searchDevices(local, kSiteSearchClass, found);
        error = errno;  // before the progress line is erased
    }
    if (!searched) {
        throw CommandError(kExitFailure, "could not send the search from " + local.address.text() +
                                             systemReason(error));
    }
    std::vector<SiteModule> modules;
    for (const FoundModule& module : sortFoundModules(found)) {
        modules.push_back(siteModuleOf(module.hello));
    }
    return modules;
}

void readSiteStatus(const LocalAddress& local, std::vector<SiteModule>& modules,
                    const std::vector<bool>& selected) {
    // The search's rule for modules that share an address, over these modules.
    std::vector<DeviceHello> hellos;
    for (const SiteModule& module : modules) {
        DeviceHello hello{};
        hello.mac = module.mac;
        hello.ipAddress = module.ip.networkOrder();
        hellos.push_back(hello);
    }
    std::map<MacAddress, bool> sharing;
    for (const FoundModule& found : sortFoundModules(hellos)) {
        sharing[found.hello.mac] = found.duplicateAddress;
    }
    std::vector<std::optional<Ipv4Address>> addresses;
    for (std::size_t i = 0; i < modules.size(); ++i) {
        const SiteModule& module = modules[i];
        const bool wanted = selected.empty() || selected[i];
        const bool shared = sharing[module.mac];
        const bool valid = isValidDeviceAddress(module.ip);
        if (wanted && (shared || !valid)) {
            std::cerr << "corvanectl: " << formatMacAddress(module.mac) << " (" << module.ip.text()
                      << ") "
                      << (shared ? "shares its address with another module"
                                 : "has an address no module may have")
                      << "; its status was not read\n";
        }
        addresses.push_back(wanted && !shared && valid ? std::optional(module.ip) : std::nullopt);
    }
    const std::vector<StatusReading> readings = sweepTargets(local, addresses);
    for (std::size_t i = 0; i < modules.size(); ++i) {
        if (addresses[i]) {
            const bool answered = readings[i].outcome == StatusOutcome::answered;
            mergeStatus(modules[i], summarizeStatus(answered, readings[i].settings));
            if (readings[i].outcome == StatusOutcome::socket) {
                std::cerr << "corvanectl: " << modules[i].ip.text() << ": "
                          << socketProblem(readings[i], local) << '\n';
            }
        }
    }
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char text[32] = "";
    if (gmtime_r(&now, &utc) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        return "1970-01-01T00:00:00Z";  // a clock beyond what a tm holds; the file stays valid
    }
    return text;
}

}  // namespace corvane::cli
