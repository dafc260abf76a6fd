// Operations from a local address that this machine does not have: binding fails, so
// nothing is ever sent, and each operation must still keep its promised result and
// timing. 192.0.2.77 is a documentation address that no test machine carries; the
// test proves bind refuses it before any operation is run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>

#include "net/datagram_exchange.h"
#include "net/device_search.h"
#include "net/device_sockets.h"
#include "net/protocol_messages.h"
#include "net/stream_settings_messages.h"
#include "net/unicast_exchange.h"
#include "net/wire_bytes.h"

namespace corvane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const LocalAddress kUnassigned{Ipv4Address::fromOctets(192, 0, 2, 77),
                               Ipv4Address::fromOctets(255, 255, 255, 0), 0};
const Ipv4Address kDevice = Ipv4Address::fromOctets(192, 0, 2, 78);
// "At once" with room for a loaded machine; the waits being avoided are 2 s and 3 s.
constexpr milliseconds kAtOnce{500};

long long elapsedMs(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

class UnassignedAddress : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::uint16_t port : {kDevicePortA, kDevicePortB}) {
            UdpSocket probe;
            ASSERT_TRUE(probe.open()) << "errno " << probe.lastError();
            ASSERT_FALSE(probe.bindTo(kUnassigned.address, port))
                << "192.0.2.77 is assigned here; refusing to run anything that could send";
            ASSERT_EQ(probe.lastError(), EADDRNOTAVAIL);
        }
    }
};

TEST_F(UnassignedAddress, BothSocketsFailAtBind) {
    const Request request = buildStatusRequest();
    UnicastExchange exchange(kernelExchangeSystem());
    EXPECT_TRUE(exchange.start(kUnassigned, kDevice, request.data(), request.size(), 8,
                               kExchangeWait, true))
        << "a bind failure is no shortage of descriptors: nothing to wait for";
    EXPECT_EQ(exchange.end(), UnicastExchange::End::noSocket);
    ASSERT_EQ(exchange.events().size(), 2u);
    for (std::size_t index = 0; index < 2; ++index) {
        EXPECT_EQ(exchange.events()[index].kind, ExchangeEvent::Kind::openFailed);
        EXPECT_EQ(exchange.events()[index].socket, index);
        EXPECT_EQ(exchange.events()[index].error, EADDRNOTAVAIL);
    }

    DeviceSockets broadcast;
    broadcast.broadcast(kUnassigned, request.data(), request.size());
    EXPECT_FALSE(broadcast.anyUsable());
    EXPECT_EQ(broadcast.failure(0), EADDRNOTAVAIL);
    EXPECT_EQ(broadcast.failure(1), EADDRNOTAVAIL);
}

TEST_F(UnassignedAddress, OperationsKeepTheirResultsAndTimes) {
    const Request request = buildStatusRequest();
    std::array<std::uint8_t, 64> reply{};
    std::size_t received = 99;
    StreamSettings settings;
    settings.mode = 3;
    PassportData passport;
    passport.fill(0xEE);
    std::vector<DeviceHello> found(2);

    struct Row {
        const char* name;
        std::function<bool()> operation;
        bool result;
        long long minMs;
        long long maxMs;
    };
    const long long atOnce = kAtOnce.count();
    const Row rows[] = {
        {"search fails at once", [&] { return searchDevices(kUnassigned, 3, found); }, false, 0,
         atOnce},
        {"waiting exchange fails at once",
         [&] {
             return exchangeDatagram(kUnassigned, kDevice, request.data(), request.size(),
                                     reply.data(), reply.size(), 8, &received);
         },
         false, 0, atOnce},
        // Nothing could be sent: the one failure a send-only request can know of.
        {"send-only exchange fails at once",
         [&] {
             return exchangeDatagram(kUnassigned, kDevice, request.data(), request.size(), nullptr,
                                     0, 0, nullptr);
         },
         false, 0, atOnce},
        {"network settings fail at once",
         [&] {
             return setNetworkSettings(kUnassigned, MacAddress{0, 8, 0xDC, 1, 2, 3}, kDevice,
                                       kUnassigned.mask, Ipv4Address());
         },
         false, 0, atOnce},
        {"status read fails", [&] { return getStreamSettings(kUnassigned, kDevice, settings); },
         false, 0, atOnce},
        {"settings request fails", [&] { return setStreamSettings(kUnassigned, kDevice, {}); },
         false, 0, atOnce},
        {"passport read fails", [&] { return getPassportData(kUnassigned, kDevice, passport); },
         false, 0, atOnce},
    };
    for (const Row& row : rows) {
        const auto start = Clock::now();
        EXPECT_EQ(row.operation(), row.result) << row.name;
        const long long ms = elapsedMs(start);
        EXPECT_GE(ms, row.minMs) << row.name;
        EXPECT_LT(ms, row.maxMs) << row.name;
    }
    EXPECT_TRUE(found.empty()) << "the search empties its list first";
    EXPECT_EQ(received, 99u) << "no length reported without a reply";
    EXPECT_EQ(settings.mode, 0) << "status record zeroed";
    EXPECT_TRUE(std::all_of(passport.begin(), passport.end(), [](auto b) { return b == 0; }));
}

}  // namespace
}  // namespace corvane
