// A scripted segment under the broadcast operations: a clock that moves only while an
// operation waits (straight to the next scripted datagram or the end of the wait), and
// replies that reach socket A or B a scripted time after a request went out on it.
// Nothing is sent and nothing sleeps; every time is exact. Not thread-safe: a test that
// runs the operation on a worker thread looks at the records once it has ended.
#pragma once

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "net/protocol_messages.h"
#include "net/scripted_kernel.h"
#include "net/search_system.h"
#include "net/wire_bytes.h"

namespace corvane::test {

// After a request went out on a socket: a datagram, or with `error` a receive failure.
struct SearchDelivery {
    int afterMs = 0;
    Bytes bytes;
    int error = 0;
};

// A module's reply to a search, byte for byte as the module sends its record.
inline Bytes helloBytes(const DeviceHello& hello) {
    Bytes bytes(sizeof(DeviceHello));
    std::memcpy(bytes.data(), &hello, bytes.size());
    return bytes;
}

class FakeSearchSystem final : public SearchSystem, public ScriptedKernel<SearchDelivery> {
public:
    struct Sent {
        Ipv4Address local;
        std::size_t socket = 0;
        long long atMs = 0;
        Bytes bytes;
    };

    std::array<std::vector<SearchDelivery>, 2> replies;  // what socket A, B get per request
    std::array<int, 2> openError{};                      // errno: socket A, B cannot be made
    std::array<int, 2> sendError{};                      // errno: its send fails
    int waitError = 0;                                   // errno: poll itself fails
    std::function<void()> onWait;                        // runs in each wait, before it
    std::vector<Sent> sent;
    int waits = 0;

    Clock::time_point now() override { return m_now; }

    std::unique_ptr<ExchangeSocket> openBroadcast(Ipv4Address local, std::size_t index,
                                                  int& error) override {
        if (openError[index] != 0) {
            error = openError[index];
            return nullptr;
        }
        return std::make_unique<Socket>(*this, local, index);
    }

    int wait(pollfd* fds, std::size_t count, int timeoutMs) override {
        ++waits;
        if (onWait) {
            onWait();
        }
        if (waitError != 0) {
            errno = waitError;
            return -1;
        }
        return advance(fds, count, timeoutMs);
    }

private:
    struct Socket final : ScriptedSocket {
        Socket(FakeSearchSystem& s, Ipv4Address l, std::size_t i)
            : ScriptedSocket(s), system(s), local(l), index(i) {}
        bool send(const std::uint8_t* bytes, std::size_t length) override {
            if (system.sendError[index] != 0) {
                fail(system.sendError[index]);
                return false;
            }
            system.sent.push_back({local, index, system.elapsedMs(), Bytes(bytes, bytes + length)});
            schedule(system.replies[index]);
            return true;
        }
        UdpSocket::ReceiveStatus receive(std::uint8_t* buffer, std::size_t capacity,
                                         std::size_t& length, DatagramSource&) override {
            return statusOf(takeDue(buffer, capacity, length));
        }

        FakeSearchSystem& system;
        Ipv4Address local;
        std::size_t index;
    };
};

}  // namespace corvane::test
