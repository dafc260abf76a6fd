// The search and the network-settings broadcast on a scripted segment
// (fake_search_system.h): which replies are kept and in what order, when collection
// ends, and what each socket failure leaves. The same on real sockets, once per
// behaviour, is in tests/lab/search_lab_test.
#include <gtest/gtest.h>

#include <functional>

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
    hello.ipAddress = ipv4(10, 0, 1, last).networkOrder();
    hello.networkMask = ipv4(255, 255, 0, 0).networkOrder();
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

// One search: the segment as the row sets it up, the cap, and what comes of it.
struct SearchRow {
    const char* name;
    std::function<void(FakeSearchSystem&)> segment;
    std::size_t mostReplies;
    struct {
        bool result;
        std::vector<DeviceHello> found;
        long long ms;      // on the scripted clock
        std::size_t sent;  // copies of the request that went out
    } expected;
};

constexpr std::size_t all = kSearchMostReplies;
const SearchRow kSearchRows[] = {
    {"arrival order across both ports, collected for 2000 ms",
     [](FakeSearchSystem& s) {
         s.replies[0] = {at(30, module(1)), at(500, module(3))};
         s.replies[1] = {at(100, module(2))};
     },
     all,
     {true, {module(1), module(2), module(3)}, 2000, 2}},
    {"the first reply of a MAC wins, whichever port",
     [](FakeSearchSystem& s) {
         s.replies[0] = {at(20, module(1, 1))};
         s.replies[1] = {at(10, module(1, 9)), at(15, module(1, 8))};
     },
     all,
     {true, {module(1, 9)}, 2000, 2}},
    {"of two at once, socket A's is taken first",
     [](FakeSearchSystem& s) {
         s.replies[0] = {at(50, module(1, 1))};
         s.replies[1] = {at(50, module(1, 9))};
     },
     all,
     {true, {module(1, 1)}, 2000, 2}},
    {"replies after the deadline are dropped",
     [](FakeSearchSystem& s) {
         s.replies[0] = {at(1999, module(1)), at(2001, module(2)), at(2500, module(3))};
     },
     all,
     {true, {module(1)}, 2000, 2}},
    {"malformed replies are ignored; a longer one keeps its first 30 bytes",
     [](FakeSearchSystem& s) {
         s.replies[0] = {at(5, resized(helloBytes(module(1)), 29)),
                         at(6, retagged(helloBytes(module(2)))), at(7, Bytes{}),
                         at(8, resized(helloBytes(module(4)), 40))};
     },
     all,
     {true, {module(4)}, 2000, 2}},
    {"the cap keeps the first modules; repeats of a kept one do not count",
     [](FakeSearchSystem& s) {
         s.replies[0] = {at(10, module(1)), at(20, module(1)), at(30, module(2)),
                         at(40, module(3))};
         s.replies[1] = {at(35, module(1))};
     },
     2,
     {true, {module(1), module(2)}, 2000, 2}},
    {"socket A cannot be made: B still searches",
     [](FakeSearchSystem& s) {
         s.openError[0] = EMFILE;
         s.replies[1] = {at(10, module(1))};
     },
     all,
     {true, {module(1)}, 2000, 1}},
    {"neither socket can be made: false at once",
     [](FakeSearchSystem& s) {
         s.openError = {EADDRNOTAVAIL, EADDRNOTAVAIL};
         s.replies[0] = {at(10, module(1))};
         s.replies[1] = {at(10, module(2))};
     },
     all,
     {false, {}, 0, 0}},
    {"neither socket sends: false at once",
     [](FakeSearchSystem& s) {
         s.sendError = {ENETUNREACH, ENETUNREACH};
         s.replies[0] = {at(10, module(1))};
     },
     all,
     {false, {}, 0, 0}},
    {"a failed receive takes socket A out; B goes on",
     [](FakeSearchSystem& s) {
         s.replies[0] = {failure(5, ECONNREFUSED), at(10, module(1))};
         s.replies[1] = {at(20, module(2))};
     },
     all,
     {true, {module(2)}, 2000, 2}},
    {"both sockets failed: collection ends early with what came",
     [](FakeSearchSystem& s) {
         s.replies[0] = {at(5, module(1)), failure(10, ENOMEM)};
         s.replies[1] = {failure(15, ENOMEM), at(16, module(2))};
     },
     all,
     {true, {module(1)}, 15, 2}},
    {"poll fails: collection ends as if nothing more came",
     [](FakeSearchSystem& s) {
         s.waitError = ENOMEM;
         s.replies[0] = {at(0, module(1))};
     },
     all,
     {true, {}, 0, 2}},
};

TEST(DeviceSearch, WhatOneSearchKeeps) {
    const Request search = buildSearchRequest(3);
    const Bytes request(search.begin(), search.end());
    for (const SearchRow& row : kSearchRows) {
        SCOPED_TRACE(row.name);
        FakeSearchSystem system;
        row.segment(system);
        std::vector<DeviceHello> found(3);  // emptied by the search

        EXPECT_EQ(searchDevicesOver(system, kLocal, 3, found, row.mostReplies),
                  row.expected.result);
        std::vector<Bytes> foundBytes, expectedBytes;
        for (const DeviceHello& hello : found) {
            foundBytes.push_back(helloBytes(hello));
        }
        for (const DeviceHello& hello : row.expected.found) {
            expectedBytes.push_back(helloBytes(hello));
        }
        EXPECT_EQ(foundBytes, expectedBytes);
        EXPECT_EQ(system.elapsedMs(), row.expected.ms);
        ASSERT_EQ(system.sent.size(), row.expected.sent);
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
