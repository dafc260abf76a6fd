// The unicast exchange against a tiny peer on loopback only (127.0.0.1 talking to
// 127.0.0.2): which datagrams count as the reply, and that a refused port takes its
// socket out of the wait.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <thread>

#include "net/datagram_exchange.h"
#include "net/protocol_messages.h"
#include "net/udp_socket.h"
#include "net/wire_bytes.h"

namespace corvane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using test::Bytes;
using test::ipv4;

const LocalAddress kLoopback{ipv4(127, 0, 0, 1), ipv4(255, 0, 0, 0), 0};
const Ipv4Address kPeer = ipv4(127, 0, 0, 2);
const Ipv4Address kStranger = ipv4(127, 0, 0, 3);
// A shorter wait than the modules' 3 s: what is checked is that the wait ends at the
// deadline it was given, not how long that deadline is.
constexpr milliseconds kWait{800};
constexpr milliseconds kPeerDelay{100};

bool waitReadable(const UdpSocket& socket, int timeoutMs) {
    pollfd wait{socket.descriptor(), POLLIN, 0};
    return ::poll(&wait, 1, timeoutMs) == 1;
}

// A socket of the peer (or a stranger) on loopback at `address`:`port`.
UdpSocket loopbackSocket(Ipv4Address address, std::uint16_t port) {
    UdpSocket socket;
    EXPECT_TRUE(socket.open() && socket.allowAddressReuse() && socket.bindTo(address, port))
        << "errno " << socket.lastError();
    return socket;
}

// What the peer does after the program's request reached its port 9100.
struct Script {
    const char* name;
    bool answerFromPortB;  // open port 9101 only after the refusal, answer from there
    bool strangerAnswers;  // a long datagram from another address on the same port
    std::size_t capacity;
    bool expected;
    std::size_t expectedLength;
};

TEST(LoopbackExchange, WhichDatagramIsTheReply) {
    const Script scripts[] = {
        {"short datagram ignored, reply cut to capacity", false, false, 30, true, 30},
        {"a reply through the port that was refused does not count", true, false, 1024, false, 0},
        {"datagram of another address does not count", false, true, 1024, false, 0},
    };
    Bytes reply = test::taggedBytes("WiZnStAs", {}, 40);
    for (std::size_t i = 8; i < reply.size(); ++i) {
        reply[i] = static_cast<std::uint8_t>(i);
    }
    const Request request = buildStatusRequest();

    for (const Script& script : scripts) {
        UdpSocket peerA = loopbackSocket(kPeer, kDevicePortA);
        ASSERT_TRUE(peerA.isOpen()) << script.name;
        Bytes seen(64);
        std::size_t seenLength = 0;
        std::thread peer([&] {
            if (!waitReadable(peerA, 2000) || peerA.receive(seen.data(), seen.size(), seenLength) !=
                                                  UdpSocket::ReceiveStatus::Datagram) {
                return;
            }
            // By now socket B's request has hit the closed port 9101 and come back
            // refused. Wait a little so the program is in its receive loop.
            std::this_thread::sleep_for(kPeerDelay);
            const std::uint8_t shortDatagram[7] = {'W', 'i', 'Z', 'n', 'S', 't', 'A'};
            if (script.strangerAnswers) {
                UdpSocket stranger = loopbackSocket(kStranger, kDevicePortA);
                EXPECT_TRUE(
                    stranger.sendTo(reply.data(), reply.size(), kLoopback.address, kDevicePortA));
            } else if (script.answerFromPortB) {
                UdpSocket peerB = loopbackSocket(kPeer, kDevicePortB);
                EXPECT_TRUE(
                    peerB.sendTo(reply.data(), reply.size(), kLoopback.address, kDevicePortB));
            } else {
                EXPECT_TRUE(peerA.sendTo(shortDatagram, sizeof shortDatagram, kLoopback.address,
                                         kDevicePortA));
                EXPECT_TRUE(
                    peerA.sendTo(reply.data(), reply.size(), kLoopback.address, kDevicePortA));
            }
        });

        Bytes received(script.capacity, 0);
        std::size_t receivedLength = 0;
        const auto start = Clock::now();
        const bool result =
            exchangeDatagram(kLoopback, kPeer, request.data(), request.size(), received.data(),
                             received.size(), kStatusReplyMinLength, &receivedLength, kWait);
        const auto ms = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
        peer.join();

        EXPECT_EQ(Bytes(seen.begin(), seen.begin() + seenLength),
                  Bytes(request.begin(), request.end()))
            << script.name << ": the peer got the status request on port 9100";
        EXPECT_EQ(result, script.expected) << script.name;
        if (script.expected) {
            EXPECT_EQ(receivedLength, script.expectedLength) << script.name;
            EXPECT_EQ(Bytes(received.begin(), received.begin() + receivedLength),
                      Bytes(reply.begin(), reply.begin() + script.expectedLength))
                << script.name;
            EXPECT_LT(ms, kWait.count() - kPeerDelay.count())
                << script.name << ": ends with the reply, not the deadline";
        } else {
            EXPECT_GE(ms, kWait.count()) << script.name << ": waits out its time";
            EXPECT_LT(ms, kWait.count() + 1000) << script.name;
        }
    }
}

}  // namespace
}  // namespace corvane
