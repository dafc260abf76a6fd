// The clock every stream measurement runs on. Times are passed in (arrival times of
// datagrams, the moment a snapshot is taken), so tests drive it without sleeping.
#pragma once

#include <chrono>

namespace corvane {

using StreamClock = std::chrono::steady_clock;
using StreamTime = StreamClock::time_point;

inline double millisecondsBetween(StreamTime from, StreamTime to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace corvane
