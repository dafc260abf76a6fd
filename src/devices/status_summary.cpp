#include "devices/status_summary.h"

#include <algorithm>

#include "devices/device_record.h"
#include "devices/output_settings.h"
#include "reports/address_formats.h"

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
        summary.destinationIp = status.destinationIp;
        summary.destinationPort = status.destinationPort;
        summary.noStuffing = (status.flags & kNoStuffingFlag) != 0;
        return summary;
    }
    const int outputs = std::min<int>(status.outputCount, kMaxStreamEntries);
    for (int i = 0; i < outputs; ++i) {
        const OutputEntry& entry = status.outputs[i];
        summary.outputs.push_back({entry.ip, entry.port, entryRunning(entry.control)});
    }
    const int inputs = std::min<int>(status.inputCount, kMaxStreamEntries);
    for (int i = 0; i < inputs; ++i) {
        summary.inputs.push_back({status.inputs[i].ip, status.inputs[i].port});
    }
    return summary;
}

std::string protocolName(std::uint8_t protocol) {
    return protocol < kProtocolCount ? kProtocolNames[protocol] : std::to_string(protocol);
}

std::string formatEndpoint(std::uint32_t ip, std::uint16_t port) {
    return formatIpAddress(ip) + ":" + std::to_string(port);
}

}  // namespace corvane
