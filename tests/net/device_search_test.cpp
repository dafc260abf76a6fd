// The search and the network-settings broadcast on a scripted segment
// (fake_search_system.h): which replies are kept and in what order, when collection
// ends, and what each socket failure leaves. The same on real sockets, once per
// behaviour, is in tests/lab/search_lab_test.
#include <gtest/gtest.h>

#include "net/device_search.h"
#include "net/fake_search_system.h"

namespace corvane {
namespace {

using test::Bytes;
using test::FakeSearchSystem;
using test::helloBytes;
using test::ipv4;
using test::SearchDelivery;

const LocalAddress kLocal{ipv4(10, 0, 0, 1), ipv4(255, 255, 0, 0), 0};

// Module `n` (MAC 02:00:00:00:00:n) at 10.0.1.`last`.
DeviceHello module(std::uint8_t n, std::uint8_t last = 1) {
    DeviceHello hello;
    hello.tag = {'W', 'i', 'Z', 'n', 'H', 'e', 'L', 'o'};
    hello.mac = {0x02, 0, 0, 0, 0, n};
    hello.ipAddress = ipv4(10, 0, 1, last);
    hello.networkMask = ipv4(255, 255, 0, 0);
    hello.deviceClass = {0, 3};
    return hello;
}
SearchDelivery at(int ms, const DeviceHello& hello) {
    return {ms, helloBytes(hello)};
}
SearchDelivery at(int ms, Bytes bytes) {
    return {ms, std::move(bytes)};
}
SearchDelivery failure(int ms, int error) {
    return {ms, {}, error};
}
Bytes resized(Bytes bytes, std::size_t length) {
    bytes.resize(length, 0xEE);
    return bytes;
}
Bytes retagged(Bytes bytes) {
    bytes[5] = 'h';  // "WiZnHhLo"
    return bytes;
}

TEST(DeviceSearch, WhatOneSearchKeeps) {
    struct Row {
        const char* name;
        std::vector<SearchDelivery> socketA, socketB;
        std::array<int, 2> openError, sendError;
        int waitError;
        std::size_t mostReplies;
        bool result;
        std::vector<DeviceHello> found;
        long long ms;
        std::size_t sent;
    };
    const int none = 0;
    const Row rows[] = {
        {"arrival order across both ports, collected for 2000 ms",
         {at(30, module(1)), at(500, module(3))},
         {at(100, module(2))},
         {},
         {},
         none,
         kSearchMostReplies,
         true,
         {module(1), module(2), module(3)},
         2000,
         2},
        {"the first reply of a MAC wins, whichever port",
         {at(20, module(1, 1))},
         {at(10, module(1, 9)), at(15, module(1, 8))},
         {},
         {},
         none,
         kSearchMostReplies,
         true,
         {module(1, 9)},
         2000,
         2},
        {"of two at once, socket A's is taken first",
         {at(50, module(1, 1))},
         {at(50, module(1, 9))},
         {},
         {},
         none,
         kSearchMostReplies,
         true,
         {module(1, 1)},
         2000,
         2},
        {"replies after the deadline are dropped",
         {at(1999, module(1)), at(2001, module(2)), at(2500, module(3))},
         {},
         {},
         {},
         none,
         kSearchMostReplies,
         true,
         {module(1)},
         2000,
         2},
        {"malformed replies are ignored; a longer one keeps its first 30 bytes",
         {at(5, resized(helloBytes(module(1)), 29)), at(6, retagged(helloBytes(module(2)))),
          at(7, Bytes{}), at(8, resized(helloBytes(module(4)), 40))},
         {},
         {},
         {},
         none,
         kSearchMostReplies,
         true,
         {module(4)},
         2000,
         2},
        {"the cap keeps the first modules; repeats of a kept one do not count",
         {at(10, module(1)), at(20, module(1)), at(30, module(2)), at(40, module(3))},
         {at(35, module(1))},
         {},
         {},
         none,
         2,
         true,
         {module(1), module(2)},
         2000,
         2},
        {"socket A cannot be made: B still searches",
         {},
         {at(10, module(1))},
         {EMFILE, 0},
         {},
         none,
         kSearchMostReplies,
         true,
         {module(1)},
         2000,
         1},
        {"neither socket can be made: false at once",
         {at(10, module(1))},
         {at(10, module(2))},
         {EADDRNOTAVAIL, EADDRNOTAVAIL},
         {},
         none,
         kSearchMostReplies,
         false,
         {},
         0,
         0},
        {"neither socket sends: false at once",
         {at(10, module(1))},
         {},
         {},
         {ENETUNREACH, ENETUNREACH},
         none,
         kSearchMostReplies,
         false,
         {},
         0,
         0},
        {"a failed receive takes socket A out; B goes on",
         {failure(5, ECONNREFUSED), at(10, module(1))},
         {at(20, module(2))},
         {},
         {},
         none,
         kSearchMostReplies,
         true,
         {module(2)},
         2000,
         2},
        {"both sockets failed: collection ends early with what came",
         {at(5, module(1)), failure(10, ENOMEM)},
         {failure(15, ENOMEM), at(16, module(2))},
         {},
         {},
         none,
         kSearchMostReplies,
         true,
         {module(1)},
         15,
         2},
        {"poll fails: collection ends as if nothing more came",
         {at(0, module(1))},
         {},
         {},
         {},
         ENOMEM,
         kSearchMostReplies,
         true,
         {},
         0,
         2},
    };
    const Request search = buildSearchRequest(3);
    const Bytes request(search.begin(), search.end());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSearchSystem system;
        system.replies = {row.socketA, row.socketB};
        system.openError = row.openError;
        system.sendError = row.sendError;
        system.waitError = row.waitError;
        std::vector<DeviceHello> found(3);  // emptied by the search

        EXPECT_EQ(searchDevicesOver(system, kLocal, 3, found, row.mostReplies), row.result);
        std::vector<Bytes> foundBytes, expectedBytes;
        for (const DeviceHello& hello : found) {
            foundBytes.push_back(helloBytes(hello));
        }
        for (const DeviceHello& hello : row.found) {
            expectedBytes.push_back(helloBytes(hello));
        }
        EXPECT_EQ(foundBytes, expectedBytes);
        EXPECT_EQ(system.elapsedMs(), row.ms);
        ASSERT_EQ(system.sent.size(), row.sent);
        for (const auto& sent : system.sent) {
            EXPECT_EQ(sent.bytes, request);
            EXPECT_EQ(sent.local, kLocal.address);
            EXPECT_EQ(sent.atMs, 0);
        }
        EXPECT_EQ(system.openSockets(), 0u) << "the search closes its sockets";
    }
}

// The module does not answer: the request goes out on both sockets, then a 200 ms pause
// on the clock; only when nothing could be sent is the result false, at once.
TEST(DeviceSearch, NetworkSettingsBroadcast) {
    struct Row {
        const char* name;
        std::array<int, 2> openError, sendError;
        bool result;
        long long ms;
        std::vector<std::size_t> sentOn;
    };
    const Row rows[] = {
        {"both sockets send, then the pause", {}, {}, true, 200, {0, 1}},
        {"socket A cannot be made: B sends", {EMFILE, 0}, {}, true, 200, {1}},
        {"socket B cannot send: A sent", {}, {0, ENETUNREACH}, true, 200, {0}},
        {"nothing sent: false at once", {}, {EACCES, EACCES}, false, 0, {}},
    };
    const MacAddress mac{0x02, 0, 0, 0, 0, 7};
    const Request settings = buildNetworkSettingsRequest(mac, ipv4(10, 0, 1, 7),
                                                         ipv4(255, 255, 0, 0), ipv4(10, 0, 0, 254));
    const Bytes request(settings.begin(), settings.end());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSearchSystem system;
        system.replies = {std::vector<SearchDelivery>{at(1, module(7))}, {}};  // never read
        system.openError = row.openError;
        system.sendError = row.sendError;
        EXPECT_EQ(setNetworkSettingsOver(system, kLocal, mac, ipv4(10, 0, 1, 7),
                                         ipv4(255, 255, 0, 0), ipv4(10, 0, 0, 254)),
                  row.result);
        EXPECT_EQ(system.elapsedMs(), row.ms);
        std::vector<std::size_t> sentOn;
        for (const auto& sent : system.sent) {
            sentOn.push_back(sent.socket);
            EXPECT_EQ(sent.bytes, request);
            EXPECT_EQ(sent.local, kLocal.address);
        }
        EXPECT_EQ(sentOn, row.sentOn);
        EXPECT_EQ(system.openSockets(), 0u);
    }
}

}  // namespace
}  // namespace corvane
