#include "devices/status_summary.h"

#include <algorithm>

#include "devices/device_record.h"
#include "devices/output_settings.h"

namespace corvane {
namespace {

constexpr unsigned kEntryRunning = 1;

bool entryRunning(std::uint16_t control) {
    return ((control >> 8) & 0x0Fu) == kEntryRunning;
}

}  // namespace

StatusSummary summarizeStatus(bool answered, const StreamSettings& status) {
    StatusSummary summary;
    summary.answered = answered;
    if (!answered) {
        return summary;
    }
    summary.running = isOutputActive(status);
    summary.entries = status.outputCount != 0 || status.inputCount != 0;
    if (!summary.entries) {
        summary.protocol = status.protocol;
        summary.destinationIp = Ipv4Address::fromNetworkOrder(status.destinationIp);
        summary.destinationPort = status.destinationPort;
        summary.noStuffing = (status.flags & kNoStuffingFlag) != 0;
        return summary;
    }
    const int outputs = std::min<int>(status.outputCount, kMaxStreamEntries);
    for (int i = 0; i < outputs; ++i) {
        const OutputEntry& entry = status.outputs[i];
        summary.outputs.push_back(
            {Ipv4Address::fromNetworkOrder(entry.ip), entry.port, entryRunning(entry.control)});
    }
    const int inputs = std::min<int>(status.inputCount, kMaxStreamEntries);
    for (int i = 0; i < inputs; ++i) {
        const InputEntry& entry = status.inputs[i];
        summary.inputs.push_back({Ipv4Address::fromNetworkOrder(entry.ip), entry.port});
    }
    return summary;
}

std::string protocolName(std::uint8_t protocol) {
    return protocol < kProtocolCount ? kProtocolNames[protocol] : std::to_string(protocol);
}

std::string formatEndpoint(Ipv4Address ip, std::uint16_t port) {
    return ip.text() + ":" + std::to_string(port);
}

}  // namespace corvane
