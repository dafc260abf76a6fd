#include "exporter/stream_report.h"

#include <algorithm>
#include <array>
#include <utility>

#include "devices/device_record.h"
#include "exporter/metrics_text.h"

namespace corvane::exporter {
namespace {

constexpr unsigned kEntryRunning = 1;

StreamRequest requestOf(Ipv4Address module, Ipv4Address ip, std::uint16_t port, int protocol) {
    StreamRequest request;
    request.module = module;
    request.destination.address = ip;
    request.destination.port = port;
    request.protocol = streamProtocolFromIndex(protocol);
    return request;
}

const char* reasonName(StreamState state) {
    switch (state) {
        case StreamState::overLimit:
            return "over_limit";
        case StreamState::cannotReceive:
            return "cannot_receive";
        case StreamState::receiveFailed:
            return "receive_failed";
        case StreamState::measured:
            break;
    }
    return "";
}

std::array<std::pair<const char*, std::uint64_t>, 6> indicators(const IndicatorCounts& e) {
    return {{{"ts_sync_loss", e.tsSyncLoss},
             {"sync_byte_error", e.syncByteError},
             {"pat_error", e.patError},
             {"continuity_count_error", e.continuityCountError},
             {"pmt_error", e.pmtError},
             {"pid_error", e.pidError}}};
}

void declareFamilies(MetricsText& text) {
    text.declare("corvane_stream_up", MetricType::gauge,
                 "Whether datagrams of the output's stream arrived here in the last 2 s.");
    text.declare("corvane_stream_bitrate_bits_per_second", MetricType::gauge,
                 "The stream's bitrate over the last 10 s: all packets (total) or without "
                 "null packets (net).");
    text.declare("corvane_stream_only_stuffing", MetricType::gauge,
                 "Whether the stream carried only null packets over the last 10 s (the "
                 "module's input is empty).");
    text.declare("corvane_stream_errors_total", MetricType::counter,
                 "First-priority transport stream errors (TR 101 290) since the exporter began "
                 "watching the destination, by indicator.");
    text.declare("corvane_stream_rtp_lost_packets_total", MetricType::counter,
                 "RTP sequence numbers missing, beyond those this computer dropped.");
    text.declare("corvane_stream_socket_drops_total", MetricType::counter,
                 "Datagrams this computer's kernel dropped for lack of buffer room (not the "
                 "module's fault).");
    text.declare("corvane_stream_service_info", MetricType::gauge,
                 "The programmes the stream's PAT and PMT name (pcr_pid empty until the PMT "
                 "arrived).");
}

void addMeasured(MetricsText& text, const StreamReading& r) {
    const std::string destination = r.request.destination.text();
    const auto at = [&](std::vector<Label> more = {}) {
        more.insert(more.begin(), {"destination", destination});
        return more;
    };
    const StreamSnapshot& s = r.snapshot;
    text.add("corvane_stream_up", MetricType::gauge, "", r.recent.up ? 1 : 0, at());
    text.add("corvane_stream_bitrate_bits_per_second", MetricType::gauge, "", r.recent.bitrate,
             at({{"kind", "total"}}));
    text.add("corvane_stream_bitrate_bits_per_second", MetricType::gauge, "", r.recent.netBitrate,
             at({{"kind", "net"}}));
    text.add("corvane_stream_only_stuffing", MetricType::gauge, "", r.recent.onlyStuffing ? 1 : 0,
             at());
    for (const auto& [name, count] : indicators(s.errors)) {
        text.add("corvane_stream_errors_total", MetricType::counter, "", static_cast<double>(count),
                 at({{"indicator", name}}));
    }
    text.add("corvane_stream_rtp_lost_packets_total", MetricType::counter, "",
             static_cast<double>(s.rtpLost), at());
    text.add("corvane_stream_socket_drops_total", MetricType::counter, "",
             static_cast<double>(s.socketDrops), at());
    for (const ServiceInfo& service : s.services) {
        text.add("corvane_stream_service_info", MetricType::gauge, "", 1,
                 at({{"program", std::to_string(service.program)},
                     {"pmt_pid", std::to_string(service.pmtPid)},
                     {"pcr_pid", service.pcrPid ? std::to_string(*service.pcrPid) : ""}}));
    }
}

}  // namespace

std::vector<StreamRequest> runningOutputs(Ipv4Address module, const StreamSettings& status) {
    std::vector<StreamRequest> requests;
    if (status.outputCount == 0 && status.inputCount == 0) {
        if (isOutputActive(status)) {
            requests.push_back(requestOf(module,
                                         Ipv4Address::fromNetworkOrder(status.destinationIp),
                                         status.destinationPort, status.protocol));
        }
        return requests;
    }
    const int outputs = std::min<int>(status.outputCount, kMaxStreamEntries);
    for (int i = 0; i < outputs; ++i) {
        const OutputEntry& entry = status.outputs[i];
        if (((entry.control >> 8) & 0x0Fu) == kEntryRunning) {
            requests.push_back(requestOf(module, Ipv4Address::fromNetworkOrder(entry.ip),
                                         entry.port, (entry.txParams >> 8) & 0x0F));
        }
    }
    return requests;
}

std::string streamMetrics(const std::vector<StreamReading>& readings) {
    MetricsText text;
    const auto measured = [](const StreamReading& r) { return r.state == StreamState::measured; };
    if (std::any_of(readings.begin(), readings.end(), measured)) {
        declareFamilies(text);
    }
    if (!std::all_of(readings.begin(), readings.end(), measured)) {
        text.declare("corvane_stream_unwatched_info", MetricType::gauge,
                     "A running output's destination that is not measured here, and why: "
                     "over_limit (--stream.max-destinations), cannot_receive or "
                     "receive_failed.");
    }
    for (const StreamReading& reading : readings) {
        if (reading.state == StreamState::measured) {
            addMeasured(text, reading);
        } else {
            text.add("corvane_stream_unwatched_info", MetricType::gauge, "", 1,
                     {{"destination", reading.request.destination.text()},
                      {"reason", reasonName(reading.state)}});
        }
    }
    return text.render();
}

std::string streamTrace(const std::vector<StreamReading>& readings) {
    std::string text;
    for (const StreamReading& r : readings) {
        text += "Stream " + r.request.destination.text() + ": ";
        if (r.state != StreamState::measured) {
            text += std::string(reasonName(r.state)) + ": " + r.problem + "\n";
            continue;
        }
        text += "measured for " + std::to_string(r.snapshot.seconds) + " s, " +
                std::to_string(r.snapshot.datagrams) + " datagrams, " +
                std::to_string(r.snapshot.packets) + " packets\n";
    }
    return text.empty() ? "No running output to measure.\n" : text;
}

}  // namespace corvane::exporter
