// A stand-in for the status sweep built on a fake single status read: the targets are
// read one after another, each reported as it ends, and none starts once the caller
// cancelled. Nothing is sent anywhere.
#pragma once

#include <atomic>
#include <functional>
#include <vector>

#include "ui/device_operations.h"

namespace corvane::testing {

inline auto sweepOf(std::function<bool(const LocalAddress&, Ipv4Address, StreamSettings&)> read) {
    return [read](const LocalAddress& local, const std::vector<Ipv4Address>& targets,
                  const SweepOptions&,
                  const std::function<void(std::size_t, const StatusReading&)>& onResult,
                  const std::atomic<bool>* cancel) {
        std::size_t reported = 0;
        for (std::size_t i = 0; i < targets.size() && !(cancel != nullptr && *cancel); ++i) {
            StatusReading reading;
            reading.deviceIp = targets[i];
            const bool answered = read(local, targets[i], reading.settings);
            reading.outcome = answered ? StatusOutcome::answered : StatusOutcome::timeout;
            if (!answered) {
                reading.settings = {};
            }
            onResult(i, reading);
            ++reported;
        }
        return reported;
    };
}

}  // namespace corvane::testing
