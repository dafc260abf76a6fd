// The receiving side on the loopback only (nothing leaves the machine): a unicast
// stream taken in batches, the kernel's drops counted when the buffer is too small,
// datagrams from another source left out, and a destination that is not this
// computer's refused in words.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "streams/stream_monitor.h"
#include "ts_builder.h"

namespace corvane {
namespace {

Ipv4Address loopback(const char* dotted) {
    in_addr address{};
    inet_pton(AF_INET, dotted, &address);
    return Ipv4Address::fromNetworkOrder(address.s_addr);
}

// Sends `count` datagrams of seven null packets from `from` to 127.0.0.1:port.
void sendFrom(const char* from, std::uint16_t port, int count) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = loopback(from).networkOrder();
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = loopback("127.0.0.1").networkOrder();
    const test::Bytes datagram =
        test::datagramOf(std::vector<test::Packet>(7, test::tsPacket(test::PacketFields{0x1FFF})));
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(sendto(fd, datagram.data(), datagram.size(), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(datagram.size()));
    }
    close(fd);
}

// A free port on the loopback for the receiving side.
std::uint16_t freePort() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = loopback("127.0.0.1").networkOrder();
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

TEST(StreamSocketTest, LoopbackBatchesDropsAndSources) {
    struct Row {
        std::string name;
        int bufferBytes;
        const char* sender;
        Ipv4Address expectedSource;
        int sent;
        bool dropsExpected;
        bool foreign;
    };
    const std::vector<Row> rows = {
        {"all arrive, in batches", kStreamReceiveBufferBytes, "127.0.0.1", {}, 200, false, false},
        {"a tiny buffer: the rest are socket drops", 4096, "127.0.0.1", {}, 200, true, false},
        {"another sender than the expected one", kStreamReceiveBufferBytes, "127.0.0.2",
         loopback("127.0.0.1"), 50, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::uint16_t port = freePort();
        std::string error;
        const auto destination = parseStreamDestination("127.0.0.1:" + std::to_string(port), error);
        ASSERT_TRUE(destination.has_value()) << error;
        StreamReceiveOptions options;
        options.bufferBytes = row.bufferBytes;
        options.expectedSource = row.expectedSource;
        StreamMonitor monitor;
        ASSERT_TRUE(monitor.start(*destination, options, test::at(0), error)) << error;
        sendFrom(row.sender, port, row.sent);
        ASSERT_TRUE(monitor.pump([] { return test::at(10); }, error)) << error;
        // The kernel tells its drop count with the next datagram queued after them.
        sendFrom(row.sender, port, 1);
        ASSERT_TRUE(monitor.pump([] { return test::at(11); }, error)) << error;
        const StreamSnapshot s = monitor.snapshot(test::at(20));
        EXPECT_GT(s.receiveBufferBytes, 0);
        const auto taken = row.foreign ? s.foreignDatagrams : s.datagrams;
        EXPECT_EQ(taken + s.socketDrops, static_cast<std::uint64_t>(row.sent) + 1);
        EXPECT_EQ(s.socketDrops > 0, row.dropsExpected);
        EXPECT_EQ(s.arrived, !row.foreign);
        EXPECT_EQ(s.onlyStuffing, !row.foreign);
    }
}

TEST(StreamSocketTest, DestinationNotOfThisComputer) {
    std::string error;
    const auto destination = parseStreamDestination("192.0.2.1:5000", error);
    StreamMonitor monitor;
    EXPECT_FALSE(monitor.start(*destination, {}, test::at(0), error));
    EXPECT_EQ(error,
              "192.0.2.1:5000: 192.0.2.1 is not an address of this computer, so nothing sent "
              "there arrives here");
}

}  // namespace
}  // namespace corvane
