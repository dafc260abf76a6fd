// The exporter's log: one line per event on standard error, in the key=value form of
// Prometheus's own exporters, so that journald and log shippers read it as they read
// theirs.
#pragma once

#include <string_view>

namespace corvane::exporter {

enum class LogLevel { info, warn, error };

void logLine(LogLevel level, std::string_view message);

}  // namespace corvane::exporter
