// The two clocks the benchmarks read: the steady clock (CLOCK_MONOTONIC, the one
// corvane-modsim logs with) and the CPU time the process has used, in milliseconds.
#pragma once

#include <sys/resource.h>

#include <chrono>

namespace corvane::bench {

inline double nowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline double cpuMs() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) {
        return 0;  // cannot fail for this process with a valid buffer; 0 would show it
    }
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

}  // namespace corvane::bench
