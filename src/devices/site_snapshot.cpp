#include "devices/site_snapshot.h"

#include <algorithm>
#include <cctype>

#include "devices/output_settings.h"
#include "reports/address_formats.h"

namespace corvane {
namespace {

std::string entriesText(const SiteOutput& output) {
    std::string text;
    for (const OutputSummary& entry : output.outputs) {
        text += (text.empty() ? "" : ", ") + formatEndpoint(entry.ip, entry.port) +
                (entry.running ? " running" : " stopped");
    }
    return text.empty() ? "none" : text;
}

std::string inputsText(const SiteOutput& output) {
    std::string text;
    for (const InputSummary& entry : output.inputs) {
        text += (text.empty() ? "" : ", ") + formatEndpoint(entry.ip, entry.port);
    }
    return text.empty() ? "none" : text;
}

const char* yesNo(bool value) {
    return value ? "true" : "false";
}

}  // namespace

SiteModule siteModuleOf(const DeviceHello& hello) {
    SiteModule module;
    module.mac = hello.mac;
    module.ip = Ipv4Address::fromNetworkOrder(hello.ipAddress);
    module.mask = Ipv4Address::fromNetworkOrder(hello.networkMask);
    module.gateway = Ipv4Address::fromNetworkOrder(hello.defaultGateway);
    module.answered = false;
    return module;
}

void mergeStatus(SiteModule& module, const StatusSummary& status) {
    module.answered = status.answered;
    module.output = SiteOutput{};
    if (!status.answered) {
        return;
    }
    SiteOutput& output = module.output;
    output.entries = status.entries;
    output.running = status.running;
    output.protocol = status.protocol;
    output.destinationIp = status.destinationIp;
    output.destinationPort = status.destinationPort;
    output.noStuffing = status.noStuffing;
    output.outputs = status.outputs;
    output.inputs = status.inputs;
}

void sortSiteModules(std::vector<SiteModule>& modules) {
    // Byte order of the MAC is the order of its text.
    std::stable_sort(modules.begin(), modules.end(),
                     [](const SiteModule& a, const SiteModule& b) { return a.mac < b.mac; });
}

std::string siteProtocolName(std::uint8_t protocol) {
    std::string name = protocolName(protocol);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

std::vector<std::pair<std::string, std::string>> siteFields(const SiteModule& module) {
    std::vector<std::pair<std::string, std::string>> fields = {
        {"ip", module.ip.text()},
        {"mask", module.mask.text()},
        {"gateway", module.gateway.text()},
        {"answered", yesNo(module.answered)}};
    if (!module.answered) {
        return fields;
    }
    const SiteOutput& output = module.output;
    fields.emplace_back("form", output.entries ? "entries" : "single");
    if (output.entries) {
        fields.insert(fields.end(),
                      {{"outputs", entriesText(output)}, {"inputs", inputsText(output)}});
        return fields;
    }
    fields.insert(fields.end(),
                  {{"protocol", siteProtocolName(output.protocol)},
                   {"destination", formatEndpoint(output.destinationIp, output.destinationPort)},
                   {"no_stuffing", yesNo(output.noStuffing)},
                   {"running", yesNo(output.running)}});
    return fields;
}

}  // namespace corvane
