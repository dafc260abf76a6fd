// The unicast exchange: one request to one module, on both ports, and its reply.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "net/exchange_system.h"
#include "net/wire_types.h"

namespace corvane {

inline constexpr int kExchangeWaitMs = 3000;
inline constexpr std::chrono::milliseconds kExchangeWait{kExchangeWaitMs};

// Sends `request` from `localAddress` to `deviceIp` through socket A (port 9100) and
// socket B (port 9101), each connected to the module's same port so that only its
// datagrams count. With `capacity` 0 nothing is awaited and the result says whether at
// least one socket sent the request. Otherwise the first datagram of at least
// `minimumLength` bytes within `wait` (3000 ms unless a test asks for less) is the reply
// (its tag is not examined): its first min(length, capacity) bytes go to `reply`, that
// count to `*receivedLength` when given, and the result is true. False when no such
// datagram arrives in time, or at once when no socket is usable. The steps are those
// of unicast_exchange.h, over `system`'s clock and sockets (the kernel's in the program).
bool exchangeDatagram(const LocalAddress& localAddress, Ipv4Address deviceIp,
                      const std::uint8_t* request, std::size_t requestLength, std::uint8_t* reply,
                      std::size_t capacity, std::size_t minimumLength, std::size_t* receivedLength,
                      std::chrono::milliseconds wait = kExchangeWait,
                      ExchangeSystem& system = kernelExchangeSystem());

}  // namespace corvane
