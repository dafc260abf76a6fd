#include "net/status_reading.h"

#include "net/protocol_messages.h"

namespace corvane {

std::string_view statusOutcomeName(StatusOutcome outcome) {
    switch (outcome) {
        case StatusOutcome::answered:
            return "answered";
        case StatusOutcome::timeout:
            return "timeout";
        case StatusOutcome::refused:
            return "refused";
        case StatusOutcome::shortReply:
            return "short_reply";
        case StatusOutcome::unexpectedReply:
            return "unexpected_reply";
        case StatusOutcome::socket:
            return "socket";
    }
    return "unknown";
}

StatusOutcome statusOutcomeOf(const UnicastExchange& exchange) {
    switch (exchange.end()) {
        case UnicastExchange::End::reply:
            return hasTag(exchange.reply(), exchange.replyLength(), kStatusReplyTag)
                       ? StatusOutcome::answered
                       : StatusOutcome::unexpectedReply;
        case UnicastExchange::End::noSocket:
            return exchange.refusedByNetwork() ? StatusOutcome::refused : StatusOutcome::socket;
        case UnicastExchange::End::waitFailed:
            return StatusOutcome::socket;
        case UnicastExchange::End::running:
        case UnicastExchange::End::deadline:
            break;
    }
    return exchange.sawShortDatagram() ? StatusOutcome::shortReply : StatusOutcome::timeout;
}

StatusReading statusReadingOf(const UnicastExchange& exchange, Ipv4Address deviceIp) {
    StatusReading reading;
    reading.deviceIp = deviceIp;
    reading.outcome = statusOutcomeOf(exchange);
    if (reading.outcome == StatusOutcome::answered) {
        // The same decoding as getStreamSettings; the tag was checked just above.
        decodeStatusReply(exchange.reply(), exchange.replyLength(), reading.settings);
    }
    return reading;
}

}  // namespace corvane
