// A status sweep scripted by the test: each module answers (running its output to a
// port) or stays silent as the test says, and with a gate set the sweep holds its last
// report back until the test opens it. Nothing is sent and nothing waits for a clock.
#pragma once

#include <atomic>
#include <future>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "reports/address_formats.h"
#include "ui/device_operations.h"

namespace corvane::testing {

// A sweep whose modules answer from `answering` (running their output to the port, or
// stopped for port 0) and which, when `gate` is set, holds its last report back until
// the gate opens (once).
struct ScriptedSweep {
    std::map<Ipv4Address, std::uint16_t> answering;
    std::shared_ptr<std::promise<void>> gate;
    // Written by the worker, read after it ended.
    std::vector<Ipv4Address> asked;
    bool allAtOnce = false;
    int sweeps = 0;

    SweepOperation operation() {
        return [this](const LocalAddress&, const std::vector<Ipv4Address>& targets,
                      const SweepOptions& options,
                      const std::function<void(std::size_t, const StatusReading&)>& onResult,
                      const std::atomic<bool>*) {
            // The whole list at once: one time-out for every silent module.
            allAtOnce = options.maxInFlight >= targets.size();
            ++sweeps;
            asked = targets;
            for (std::size_t i = 0; i < targets.size(); ++i) {
                if (gate && i + 1 == targets.size()) {
                    const auto held = std::exchange(gate, nullptr);
                    held->get_future().wait();
                }
                StatusReading reading;
                reading.deviceIp = targets[i];
                const auto found = answering.find(targets[i]);
                reading.outcome =
                    found == answering.end() ? StatusOutcome::timeout : StatusOutcome::answered;
                if (found != answering.end() && found->second != 0) {
                    reading.settings.mode = 3;
                    reading.settings.destinationIp =
                        Ipv4Address::fromOctets(239, 1, 1, 1).networkOrder();
                    reading.settings.destinationPort = found->second;
                }
                onResult(i, reading);
            }
            return targets.size();
        };
    }
};

}  // namespace corvane::testing
