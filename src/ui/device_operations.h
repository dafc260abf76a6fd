// The network operations that windows start, gathered so a window can be given fakes
// in tests. By default every member calls the real operation.
#pragma once

#include <functional>
#include <vector>

#include "net/device_search.h"
#include "net/status_sweep.h"
#include "net/stream_settings_messages.h"
#include "net/wire_types.h"

namespace corvane {

// Status reads of many modules at once: local address, targets, options, a callback
// per result (index, reading), and a flag the caller may raise.
using SweepOperation = std::function<std::size_t(
    const LocalAddress&, const std::vector<Ipv4Address>&, const SweepOptions&,
    const std::function<void(std::size_t, const StatusReading&)>&, const std::atomic<bool>*)>;

struct DeviceOperations {
    // The window's search keeps the core's bound on the replies it collects.
    std::function<bool(const LocalAddress&, std::uint16_t, std::vector<DeviceHello>&)>
        searchDevices = [](const LocalAddress& local, std::uint16_t searchClass,
                           std::vector<DeviceHello>& found) {
            return corvane::searchDevices(local, searchClass, found);
        };
    std::function<bool(const LocalAddress&, const MacAddress&, Ipv4Address, Ipv4Address,
                       Ipv4Address)>
        setNetworkSettings = corvane::setNetworkSettings;
    std::function<bool(const LocalAddress&, Ipv4Address, StreamSettings&)> getStreamSettings =
        corvane::getStreamSettings;
    std::function<bool(const LocalAddress&, Ipv4Address, const StreamSettings&)> setStreamSettings =
        corvane::setStreamSettings;
    std::function<bool(const LocalAddress&, Ipv4Address, PassportData&)> getPassportData =
        corvane::getPassportData;
    // Status reads of many modules at once (Check All).
    std::function<std::size_t(
        const LocalAddress&, const std::vector<Ipv4Address>&, const SweepOptions&,
        const std::function<void(std::size_t, const StatusReading&)>&, const std::atomic<bool>*)>
        sweepStatus = [](const LocalAddress& local, const std::vector<Ipv4Address>& targets,
                         const SweepOptions& options,
                         const std::function<void(std::size_t, const StatusReading&)>& onResult,
                         const std::atomic<bool>* cancel) {
            return corvane::sweepStatus(local, targets, options, onResult, cancel);
        };
    // The same for Watch, whose last argument abandons the sweep: what is in flight
    // is dropped at once.
    std::function<std::size_t(
        const LocalAddress&, const std::vector<Ipv4Address>&, const SweepOptions&,
        const std::function<void(std::size_t, const StatusReading&)>&, const std::atomic<bool>*)>
        backgroundSweep = [](const LocalAddress& local, const std::vector<Ipv4Address>& targets,
                             const SweepOptions& options,
                             const std::function<void(std::size_t, const StatusReading&)>& onResult,
                             const std::atomic<bool>* abandon) {
            return corvane::sweepStatusUnlessAbandoned(local, targets, options, onResult, abandon);
        };
};

}  // namespace corvane
