#include "exporter/exporter_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace corvane::exporter {
namespace {

std::mutex g_logMutex;  // lines from the HTTP threads and the prober never interleave

const char* levelName(LogLevel level) {
    switch (level) {
        case LogLevel::info:
            return "info";
        case LogLevel::warn:
            return "warn";
        case LogLevel::error:
            return "error";
    }
    return "info";
}

}  // namespace

void logLine(LogLevel level, std::string_view message) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string quoted;
    for (const char c : message) {
        quoted += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c == '\n' ? ' ' : c);
    }
    const std::lock_guard lock(g_logMutex);
    // A log that cannot be written has nowhere to say so.
    std::fprintf(stderr, "ts=%s.%03lldZ caller=corvane_exporter level=%s msg=\"%s\"\n", stamp,
                 static_cast<long long>(millis), levelName(level), quoted.c_str());
}

}  // namespace corvane::exporter
