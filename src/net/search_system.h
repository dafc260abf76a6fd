// What the broadcast operations (the search and the network settings) need from the
// operating system: a monotonic clock, their two broadcast sockets and a wait for
// readiness. The kernel provides them in the program (exchange_system.cpp, beside the
// unicast exchange's); tests give a scripted stand-in, so that a search's two seconds
// pass without anyone waiting for them.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/exchange_system.h"

namespace corvane {

class SearchSystem {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~SearchSystem() = default;
    virtual Clock::time_point now() = 0;
    // Broadcast socket `index` (0 = A, 1 = B): a non-blocking UDP socket allowed to
    // broadcast, with address reuse and a large receive buffer, bound to (`local`, its
    // own port); its send() goes to 255.255.255.255 on that same port. Null on failure,
    // with `error` the errno of the step that failed.
    virtual std::unique_ptr<ExchangeSocket> openBroadcast(Ipv4Address local, std::size_t index,
                                                          int& error) = 0;
    // As poll(2): the number of ready entries, 0 after `timeoutMs`, -1 with errno. With
    // no entries it is a pause of `timeoutMs` that a signal may cut short.
    virtual int wait(pollfd* fds, std::size_t count, int timeoutMs) = 0;
};

// The kernel's sockets, poll() and the steady clock; shared, it holds no state.
SearchSystem& kernelSearchSystem();

}  // namespace corvane
