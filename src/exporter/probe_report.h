// What one /probe answers: the reading of a module's status as metrics, and, for
// ?debug=true, the steps of its exchange as text.
#pragma once

#include <chrono>
#include <string>

#include "devices/device_record.h"
#include "net/status_reading.h"
#include "net/wire_types.h"

namespace corvane::exporter {

// corvane_probe_success and corvane_probe_duration_seconds always; the output's state and
// settings (single form) or its entries (entry-list form) when the module answered; why
// not when it did not; and corvane_module_info for each place of the module's address in
// `listed`.
std::string probeMetrics(const StatusReading& reading, const DeviceList& listed);

// Which datagrams went out and came in, on which port, when (from the exchange's start),
// and why the probe ended.
std::string probeTrace(const StatusReading& reading, const LocalAddress& local,
                       std::chrono::milliseconds wait);

}  // namespace corvane::exporter
