// The single exchange that the passport read and the settings request use, on the
// scripted clock and sockets: what counts as the reply, what is copied, and when it
// gives up, to the millisecond and without sleeping.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>

#include "fake_exchange_system.h"
#include "net/datagram_exchange.h"

using namespace corvane;
using std::chrono::milliseconds;
using test::FakeDelivery;
using test::FakeExchangeSystem;

namespace {

const LocalAddress kLocal{Ipv4Address::fromOctets(10, 77, 0, 1),
                          Ipv4Address::fromOctets(255, 255, 0, 0), 0};
const Ipv4Address kModule = Ipv4Address::fromOctets(10, 77, 0, 20);

FakeDelivery datagram(int afterMs, std::size_t length) {
    test::Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i + 1);
    }
    return {afterMs, bytes, 0, {}};
}

}  // namespace

TEST(SingleExchange, WhatTheReplyIsAndWhenItGivesUp) {
    struct Row {
        const char* name;
        test::FakeModule script;
        std::size_t capacity;
        bool result;
        std::size_t received;  // bytes copied into the reply
        long long ms;          // on the scripted clock when it returned
        int requests;          // both ports counted
    };
    const Row rows[] = {
        {"the first long-enough datagram",
         {{{datagram(40, 12)}, {datagram(60, 30)}}},
         64,
         true,
         12,
         40,
         2},
        {"shorter than the minimum is passed over",
         {{{datagram(5, 9), datagram(70, 10)}, {}}},
         64,
         true,
         10,
         70,
         2},
        {"a long reply is cut to the capacity", {{{}, {datagram(15, 40)}}}, 16, true, 16, 15, 2},
        {"refused on both ports ends early",
         {{{{2, {}, ECONNREFUSED, {}}}, {{3, {}, ECONNREFUSED, {}}}}},
         64,
         false,
         0,
         3,
         2},
        {"nothing within the wait", {{{datagram(501, 12)}, {}}}, 64, false, 0, 500, 2},
        {"send-only: nothing awaited", {{{datagram(1, 12)}, {}}}, 0, true, 0, 0, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeExchangeSystem system;
        system.modules[kModule] = row.script;
        const std::array<std::uint8_t, 26> request{'W', 'i', 'Z', 'n'};
        std::array<std::uint8_t, 64> reply{};
        std::size_t received = 0;
        const bool result =
            exchangeDatagram(kLocal, kModule, request.data(), request.size(), reply.data(),
                             row.capacity, 10, &received, milliseconds(500), system);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(received, row.received);
        for (std::size_t i = 0; i < received; ++i) {
            ASSERT_EQ(reply[i], static_cast<std::uint8_t>(i + 1)) << i;
        }
        EXPECT_EQ(reply[received], 0) << "nothing beyond what was copied";
        EXPECT_EQ(system.elapsedMs(), row.ms);
        EXPECT_EQ(system.requests[kModule], row.requests);
    }
}
