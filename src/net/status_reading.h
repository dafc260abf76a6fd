// What one status read of a module found, in the form that the sweep hands to the
// window, corvanectl and the exporter: how it ended, the decoded settings, how long it
// took and, when asked for, every step of the exchange.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

#include "net/unicast_exchange.h"
#include "net/wire_types.h"

namespace corvane {

enum class StatusOutcome : std::uint8_t {
    answered,         // a "WiZnStAs" reply was taken and decoded
    timeout,          // nothing long enough arrived before the deadline
    refused,          // the network refused both sockets (ICMP), so the wait ended early
    shortReply,       // only datagrams shorter than a tag arrived before the deadline
    unexpectedReply,  // the first long-enough datagram carried another tag
    socket,           // the sockets could not be opened, bound or used
};

// "answered", "timeout", "refused", "short_reply", "unexpected_reply", "socket".
std::string_view statusOutcomeName(StatusOutcome outcome);

struct StatusReading {
    Ipv4Address deviceIp;
    StatusOutcome outcome = StatusOutcome::timeout;
    StreamSettings settings{};              // all zero unless answered
    std::chrono::microseconds duration{0};  // from the request going out to this result
    std::vector<ExchangeEvent> trace;       // only when the caller asked for it
};

// The outcome of a status exchange as it stands: ended with a reply, or how its wait
// has gone so far (a reader whose own deadline came first gets timeout or shortReply).
StatusOutcome statusOutcomeOf(const UnicastExchange& exchange);

// deviceIp, outcome and, when answered, the decoded settings; no duration, no trace.
StatusReading statusReadingOf(const UnicastExchange& exchange, Ipv4Address deviceIp);

}  // namespace corvane
