#include "cli/status_sweep_run.h"

#include <atomic>
#include <cstring>
#include <iostream>

#include "cli/progress_line.h"
#include "net/open_file_limit.h"
#include "net/status_sweep.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

// Standard streams, the settings file, the progress line and the library's own.
constexpr std::uint64_t kReservedFiles = 32;
// Each exchange holds one socket per port.
constexpr std::uint64_t kFilesPerExchange = 2;

// How many exchanges may be in flight: all `count` where the limit on open files
// allows, after raising its soft value up to the hard one.
std::size_t inFlightAllowed(std::size_t count) {
    const std::uint64_t wanted = kReservedFiles + kFilesPerExchange * count;
    std::string error;
    const std::optional<std::uint64_t> limit = raiseOpenFileLimit(wanted, error);
    if (!limit) {
        std::cerr << "corvanectl: " << error << "; modules may be asked in turns\n";
        return count;  // the sweep waits for descriptors where they run out
    }
    if (*limit >= wanted) {
        return count;
    }
    const std::size_t allowed = static_cast<std::size_t>(
        *limit > kReservedFiles + kFilesPerExchange ? (*limit - kReservedFiles) / kFilesPerExchange
                                                    : 1);
    std::cerr << "corvanectl: the limit on open files (" << *limit << ") lets only " << allowed
              << " of " << count << " modules be asked at once; the others wait their turn\n";
    return allowed;
}

std::string portOf(std::uint8_t socket) {
    return std::to_string(socket == 0 ? 9100 : 9101);
}

}  // namespace

std::vector<StatusReading> sweepTargets(const LocalAddress& local,
                                        const std::vector<std::optional<Ipv4Address>>& addresses) {
    std::vector<StatusReading> readings(addresses.size());
    std::size_t count = 0;
    for (const auto& address : addresses) {
        count += address.has_value() ? 1 : 0;
    }
    SweepOptions options;
    options.maxInFlight = inFlightAllowed(count);
    StatusSweep sweep(local, options);
    std::atomic<std::size_t> done{0};
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (addresses[i]) {
            sweep.add({*addresses[i],
                       [&readings, &done, i](const StatusReading& reading) {
                           readings[i] = reading;
                           ++done;
                       },
                       std::nullopt, true});
        }
    }
    const ProgressLine progress([&done, count] {
        return "Checking " + std::to_string(done.load()) + " of " + std::to_string(count) + "...";
    });
    while (!sweep.idle()) {
        sweep.runOnce(std::chrono::milliseconds(100));
    }
    return readings;
}

std::string socketProblem(const StatusReading& reading, const LocalAddress& local) {
    for (const ExchangeEvent& event : reading.trace) {
        const std::string reason = event.error != 0 ? std::strerror(event.error) : "unknown error";
        switch (event.kind) {
            case ExchangeEvent::Kind::openFailed:
                return "cannot open the socket for port " + portOf(event.socket) + " from " +
                       local.address.text() + ": " + reason;
            case ExchangeEvent::Kind::sendFailed:
                return "cannot send on port " + portOf(event.socket) + ": " + reason;
            case ExchangeEvent::Kind::receiveFailed:
                return "cannot receive on port " + portOf(event.socket) + ": " + reason;
            default:
                break;
        }
    }
    return "the sockets failed";
}

}  // namespace corvane::cli
