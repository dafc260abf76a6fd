// A scripted kernel under the exchanges (see scripted_kernel.h), with modules that answer
// each request as a test row says.
#pragma once

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>

#include "net/exchange_system.h"
#include "net/protocol_messages.h"
#include "net/scripted_kernel.h"
#include "net/wire_bytes.h"

namespace corvane::test {

// After a request reached a port: a datagram (from the module unless `from` is set),
// or with `error` a receive failure such as the ICMP refusal ECONNREFUSED.
struct FakeDelivery {
    int afterMs = 0;
    Bytes bytes;
    int error = 0;
    Ipv4Address from{};  // unspecified: the module
};
using FakeModule = std::array<std::vector<FakeDelivery>, 2>;  // what socket A, B get

class FakeExchangeSystem final : public ExchangeSystem, public ScriptedKernel<FakeDelivery> {
public:
    std::map<Ipv4Address, FakeModule> modules;  // any other address never answers
    std::size_t descriptorLimit = 1000;         // open sockets; more fail with EMFILE
    std::map<Ipv4Address, int> requests;        // sent per address, both ports counted
    std::size_t mostOpen = 0;
    std::function<void()> onWait;  // runs in each wait, before it

    Clock::time_point now() override { return m_now; }

    std::unique_ptr<ExchangeSocket> open(Ipv4Address, Ipv4Address deviceIp, std::size_t index,
                                         int& error) override {
        if (openSockets() >= descriptorLimit) {
            error = EMFILE;
            return nullptr;
        }
        auto socket = std::make_unique<Socket>(*this, deviceIp, index);
        mostOpen = std::max(mostOpen, openSockets());
        return socket;
    }

    int wait(pollfd* fds, std::size_t count, int timeoutMs) override {
        if (onWait) {
            onWait();
        }
        return advance(fds, count, timeoutMs);
    }

private:
    struct Socket final : ScriptedSocket {
        Socket(FakeExchangeSystem& s, Ipv4Address ip, std::size_t i)
            : ScriptedSocket(s), system(s), deviceIp(ip), index(i) {}
        bool send(const std::uint8_t*, std::size_t) override {
            ++system.requests[deviceIp];
            schedule(system.modules[deviceIp][index]);
            return true;
        }
        UdpSocket::ReceiveStatus receive(std::uint8_t* buffer, std::size_t capacity,
                                         std::size_t& length, DatagramSource& source) override {
            const std::optional<FakeDelivery> d = takeDue(buffer, capacity, length);
            if (d) {
                source = {!d->from.isUnspecified() ? d->from : deviceIp,
                          index == 0 ? kDevicePortA : kDevicePortB};
            }
            return statusOf(d);
        }

        FakeExchangeSystem& system;
        Ipv4Address deviceIp;
        std::size_t index;
    };
};

}  // namespace corvane::test
