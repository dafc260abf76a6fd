// The modules side of the lab in one process: every simulated module shares the two
// port sockets, a received datagram goes to the modules it is addressed to, and the
// replies wait in a queue until each module's reply delay has passed.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <map>
#include <optional>
#include <queue>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "datagram_log.h"
#include "sim_module.h"
#include "sim_socket.h"
#include "stream_outputs.h"

namespace corvane::modsim {

struct FloodOptions {
    int ratePerSecond = 0;       // 0: no flood
    std::uint32_t targetIp = 0;  // the program side's address, host order
    std::uint32_t sourceIp = 0;  // 0: the kernel's choice on the modules side
    std::uint32_t seed = 1;
};

class Simulator {
public:
    using Clock = std::chrono::steady_clock;

    Simulator(std::vector<SimModule> modules, FloodOptions flood);

    // Binds the sockets and opens the log (an empty path writes none) and the stream
    // tally log (likewise).
    bool open(const std::string& logPath, const std::string& streamLogPath, std::string& error);
    // Whether running outputs send their streams. Off by default: a rack of hundreds of
    // running modules would otherwise send gigabits a second that no status test wants.
    void sendStreams(bool on) { m_sendStreams = on; }
    // Runs until stopFlag becomes non-zero; signals are taken only while waiting.
    void run(const volatile std::sig_atomic_t& stopFlag, const sigset_t& waitMask);

private:
    struct PendingSend {
        Clock::time_point due;
        std::uint64_t order = 0;
        std::uint16_t localPort = 0;
        std::uint32_t sourceIp = 0;
        std::uint32_t destinationIp = 0;
        std::uint16_t destinationPort = 0;
        Bytes data;
    };
    struct LaterFirst {
        bool operator()(const PendingSend& a, const PendingSend& b) const {
            return a.due != b.due ? a.due > b.due : a.order > b.order;
        }
    };

    void drain(SimSocket& socket);
    void handle(const ReceivedDatagram& datagram);
    void handleForModule(std::size_t index, const ReceivedDatagram& datagram, bool unicast);
    void reply(const SimModule& module, const ReceivedDatagram& request, Bytes reply);
    void moveModule(std::size_t index, std::uint32_t oldIp);
    bool isBroadcast(std::uint32_t ip) const;
    void schedule(PendingSend send);
    void sendDue(Clock::time_point now);
    void flood(Clock::time_point now);
    int waitTimeoutMs(Clock::time_point now) const;
    SimSocket* socketFor(std::uint16_t port);

    std::vector<SimModule> m_modules;
    std::unordered_map<std::uint32_t, std::vector<std::size_t>> m_byIp;
    std::vector<SimSocket> m_sockets;  // 9100, 9101, then any decoy ports
    DatagramLog m_log;
    std::priority_queue<PendingSend, std::vector<PendingSend>, LaterFirst> m_pending;
    std::uint64_t m_order = 0;
    FloodOptions m_flood;
    std::mt19937 m_random;
    Clock::time_point m_floodStart;
    std::uint64_t m_floodSent = 0;
    int m_sendErrors = 0;
    StreamOutputs m_streams;
    bool m_sendStreams = false;
    bool m_streamsChanged = true;  // the running outputs are compared again
};

}  // namespace corvane::modsim
