// The streams of every running output of every simulated module, sent from the
// module's own address through one socket. Multicast leaves through the lab link
// (the first interface that is not the loopback; the network guard has already made
// sure that every such interface is a lab link). Outputs start and stop with the
// status: after each settings request the running set is compared again.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "sim_module.h"
#include "stream_sender.h"

namespace corvane::modsim {

class StreamOutputs {
public:
    using Clock = std::chrono::steady_clock;

    StreamOutputs() = default;
    StreamOutputs(const StreamOutputs&) = delete;
    StreamOutputs& operator=(const StreamOutputs&) = delete;
    ~StreamOutputs();

    // Opens the sending socket when any module could stream, and the tally log (one
    // JSON line per stream when it stops; an empty path writes none).
    bool open(const std::string& logPath, std::string& error);
    // Starts the streams of outputs that run now and stops those that no longer do.
    void sync(const std::vector<SimModule>& modules, Clock::time_point now);
    void sendDue(Clock::time_point now);
    std::optional<Clock::time_point> nextDue() const;
    void stopAll();

private:
    struct Active {
        std::size_t module = 0;
        std::uint32_t moduleIp = 0;
        OutputTarget target;
        StreamSender sender;
    };
    bool send(const Active& active, const Bytes& datagram);
    void writeTally(const Active& active);

    int m_fd = -1;
    unsigned m_labInterface = 0;
    std::FILE* m_log = nullptr;
    std::vector<Active> m_active;
    int m_errorsReported = 0;
};

}  // namespace corvane::modsim
