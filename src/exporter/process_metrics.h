// The standard process metrics every Prometheus exporter gives, read from /proc.
#pragma once

#include <optional>

#include "exporter/metrics_text.h"

namespace corvane::exporter {

struct ProcessFigures {
    double cpuSeconds = 0;         // user and system time
    double residentBytes = 0;      // resident set
    double virtualBytes = 0;       // address space
    double openFds = 0;            // descriptors open now
    double maxFds = 0;             // the soft limit on them
    double startTimeSeconds = 0;   // since the Unix epoch
};

// Nothing when /proc cannot be read (then the metrics are left out, not made up).
std::optional<ProcessFigures> readProcessFigures();

void addProcessMetrics(MetricsText& text, const ProcessFigures& figures);

}  // namespace corvane::exporter
