#include "exporter/probe_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "devices/status_summary.h"
#include "exporter/metrics_text.h"
#include "reports/address_formats.h"

namespace corvane::exporter {
namespace {

constexpr std::size_t kTraceBytesShown = 64;  // of each datagram; the length is given whole

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    const std::size_t shown = std::min(bytes.size(), kTraceBytesShown);
    for (std::size_t i = 0; i < shown; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return bytes.size() > shown ? text + "..." : text;
}

void addSettings(MetricsText& text, const StatusSummary& s) {
    text.add("corvane_output_running", MetricType::gauge,
             "Whether the module's IP output runs (1) or not (0).", s.running ? 1 : 0);
    if (!s.entries) {
        text.add("corvane_output_info", MetricType::gauge,
                 "The single output's protocol, destination and no-stuffing option.", 1,
                 {{"protocol", protocolName(s.protocol)},
                  {"destination", formatEndpoint(s.destinationIp, s.destinationPort)},
                  {"no_stuffing", s.noStuffing ? "true" : "false"}});
        return;
    }
    text.declare("corvane_output_entry_running", MetricType::gauge,
                 "Whether the module's output entry runs (1) or not (0), by entry number.");
    for (std::size_t i = 0; i < s.outputs.size(); ++i) {
        text.add("corvane_output_entry_running", MetricType::gauge, "", s.outputs[i].running,
                 {{"entry", std::to_string(i)},
                  {"destination", formatEndpoint(s.outputs[i].ip, s.outputs[i].port)}});
    }
    text.declare("corvane_input_entry_info", MetricType::gauge,
                 "The module's input entries: the source each accepts (0.0.0.0 for any).");
    for (std::size_t i = 0; i < s.inputs.size(); ++i) {
        text.add("corvane_input_entry_info", MetricType::gauge, "", 1,
                 {{"entry", std::to_string(i)},
                  {"source", formatEndpoint(s.inputs[i].ip, s.inputs[i].port)}});
    }
}

// Why a read ended, in a few words.
const char* endingOf(StatusOutcome outcome) {
    switch (outcome) {
        case StatusOutcome::answered:
            return "a status reply arrived";
        case StatusOutcome::timeout:
            return "no datagram of 8 bytes or more arrived before the deadline";
        case StatusOutcome::refused:
            return "the network refused both ports (ICMP unreachable)";
        case StatusOutcome::shortReply:
            return "only datagrams shorter than a tag arrived before the deadline";
        case StatusOutcome::unexpectedReply:
            return "the first long-enough datagram carried another tag than WiZnStAs";
        case StatusOutcome::socket:
            return "the sockets could not be opened, bound or used";
    }
    return "";
}

}  // namespace

std::string probeMetrics(const StatusReading& reading, const DeviceList& listed) {
    const bool answered = reading.outcome == StatusOutcome::answered;
    MetricsText text;
    text.add("corvane_probe_success", MetricType::gauge,
             "Whether the module answered the status read (1) or not (0).", answered ? 1 : 0);
    text.add("corvane_probe_duration_seconds", MetricType::gauge,
             "How long the status read took, from the request going out to its end.",
             std::chrono::duration<double>(reading.duration).count());
    if (answered) {
        addSettings(text, summarizeStatus(true, reading.settings));
    } else {
        text.add("corvane_probe_failure_info", MetricType::gauge,
                 "Why the status read failed: timeout, refused, short_reply, "
                 "unexpected_reply or socket.",
                 1, {{"reason", std::string(statusOutcomeName(reading.outcome))}});
    }
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (listed[i].ipAddress == reading.deviceIp) {
            text.add("corvane_module_info", MetricType::gauge,
                     "The module's MAC and 1-based position in the operator's device list.", 1,
                     {{"mac", listed[i].macAddress}, {"position", std::to_string(i + 1)}});
        }
    }
    return text.render();
}

std::string probeTrace(const StatusReading& reading, const LocalAddress& local,
                       std::chrono::milliseconds wait) {
    std::string text = "Status read of " + reading.deviceIp.text() + " from " +
                       local.address.text() + ", waiting at most " + std::to_string(wait.count()) +
                       " ms for the reply\n";
    for (const ExchangeEvent& event : reading.trace) {
        char line[160];
        std::snprintf(line, sizeof line, "%+10.3f ms  %-14s port %d", event.offset.count() / 1000.0,
                      std::string(exchangeEventName(event.kind)).c_str(),
                      event.socket == 0 ? 9100 : 9101);
        text += line;
        if (!event.bytes.empty()) {
            text += "  " + std::to_string(event.bytes.size()) + " bytes  " + hexBytes(event.bytes);
        }
        if (event.error != 0) {
            text += std::string("  (") + std::strerror(event.error) + ")";
        }
        text += '\n';
    }
    if (reading.trace.size() >= kMaxExchangeEvents) {
        text +=
            "(the record keeps the first " + std::to_string(kMaxExchangeEvents) + " steps only)\n";
    }
    char ended[160];
    std::snprintf(ended, sizeof ended, "Ended: %s after %.3f ms: %s\n",
                  std::string(statusOutcomeName(reading.outcome)).c_str(),
                  reading.duration.count() / 1000.0, endingOf(reading.outcome));
    return text + ended;
}

}  // namespace corvane::exporter
