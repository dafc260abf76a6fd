#include "cli/site_file_json.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/cli_session.h"
#include "cli/json_lines.h"
#include "devices/address_input.h"
#include "devices/output_settings.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

OrderedJson outputJson(const SiteOutput& output) {
    OrderedJson json;
    if (!output.entries) {
        json["form"] = "single";
        json["protocol"] = siteProtocolName(output.protocol);
        json["destination"] = formatEndpoint(output.destinationIp, output.destinationPort);
        json["no_stuffing"] = output.noStuffing;
        json["running"] = output.running;
        return json;
    }
    json["form"] = "entries";
    json["outputs"] = OrderedJson::array();
    for (const OutputSummary& entry : output.outputs) {
        json["outputs"].push_back(OrderedJson{{"destination", formatEndpoint(entry.ip, entry.port)},
                                              {"running", entry.running}});
    }
    json["inputs"] = OrderedJson::array();
    for (const InputSummary& entry : output.inputs) {
        json["inputs"].push_back(OrderedJson{{"source", formatEndpoint(entry.ip, entry.port)}});
    }
    return json;
}

// A message that quotes a damaged file: its control characters (an escape sequence in a
// field, say) are shown as '?', never sent to the operator's terminal.
std::string printable(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        c = byte < 0x20 || byte == 0x7F ? '?' : c;
    }
    return text;
}

// The site file's own reading of a module address with its port: any port 0 to 65535,
// as a module may report one.
std::optional<Destination> parseEndpoint(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto ip = Ipv4Address::parse(text.substr(0, colon));
    const std::string_view digits = text.substr(colon + 1);
    if (!ip || digits == "0") {
        return ip ? std::optional(Destination{*ip, 0}) : std::nullopt;
    }
    const auto port = parsePort(digits);
    return port ? std::optional(Destination{*ip, *port}) : std::nullopt;
}

// "YYYY-MM-DDThh:mm:ssZ", as backup writes it; diff shows it as it is.
std::optional<std::string> utcTime(const std::string& text) {
    constexpr std::string_view kForm = "0000-00-00T00:00:00Z";
    if (text.size() != kForm.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (kForm[i] == '0' ? !digit : text[i] != kForm[i]) {
            return std::nullopt;
        }
    }
    return text;
}

std::optional<std::uint8_t> parseProtocol(const std::string& text) {
    for (std::uint8_t index = 0; index < kProtocolCount; ++index) {
        if (text == siteProtocolName(index)) {
            return index;
        }
    }
    // An index the program has no name for, written as its number: kept as it is.
    const auto number = parsePort(text);
    return number && *number <= 255 && std::to_string(*number) == text
               ? std::optional(static_cast<std::uint8_t>(*number))
               : std::nullopt;
}

// Reads one parsed site file, naming the line and field of the first fault.
class SiteReader {
public:
    SiteReader(const std::string& text, const std::string& name) : m_text(text), m_name(name) {}

    [[noreturn]] void fail(const JsonPath& path, const std::string& problem) const {
        throw CommandError(
            kExitUsage, printable(m_name + " line " + std::to_string(lineOfJsonPath(m_text, path)) +
                                  ": " + jsonPathText(path) + ": " + problem));
    }

    const Json& field(const Json& object, JsonPath& path, const char* key,
                      Json::value_t type) const {
        if (!object.contains(key)) {
            fail(path, std::string("no \"") + key + "\"");
        }
        path.push_back(key);
        const Json& value = object.at(key);
        if (value.type() != type) {
            fail(path, std::string("is ") + value.type_name() + ", not " + Json(type).type_name());
        }
        return value;
    }

    // A string field read by `parse`; `form` says what it should look like.
    template <typename Parse>
    auto text(const Json& object, JsonPath path, const char* key, Parse parse,
              const std::string& form) const {
        const std::string value =
            field(object, path, key, Json::value_t::string).get<std::string>();
        const auto parsed = parse(value);
        if (!parsed) {
            fail(path, "'" + value + "' is not " + form);
        }
        return *parsed;
    }

    bool flag(const Json& object, JsonPath path, const char* key) const {
        return field(object, path, key, Json::value_t::boolean).get<bool>();
    }

    void onlyKeys(const Json& object, const JsonPath& path, std::set<std::string> keys) const {
        for (const auto& [key, value] : object.items()) {
            if (!keys.contains(key)) {
                JsonPath at = path;
                at.push_back(key);
                fail(at, "is not a field of a site file");
            }
        }
    }

    SiteSnapshot site(const Json& document) const;

private:
    SiteModule module(const Json& object, const JsonPath& path) const;
    SiteOutput output(const Json& object, const JsonPath& path) const;
    void entries(const Json& object, const JsonPath& path, SiteOutput& output) const;

    const std::string& m_text;
    const std::string& m_name;
};

std::optional<Ipv4Address> moduleAddress(const std::string& text) {
    const auto ip = Ipv4Address::parse(text);
    return ip && isValidDeviceAddress(*ip) ? ip : std::nullopt;
}

std::optional<Ipv4Address> maskAddress(const std::string& text) {
    std::string checked = text;
    return networkMask()(checked).empty() ? Ipv4Address::parse(text) : std::nullopt;
}

SiteSnapshot SiteReader::site(const Json& document) const {
    if (!document.is_object() || !document.contains("format")) {
        fail({},
             "not a site file (one written by 'corvanectl backup' starts with "
             "\"format\": 1)");
    }
    JsonPath path;
    const Json& format = document.at("format");
    if (format != kSiteFileFormat) {
        fail({"format"}, "format " + format.dump() + " is not one this corvanectl reads (" +
                             std::to_string(kSiteFileFormat) + ")");
    }
    onlyKeys(document, {}, {"format", "taken_at", "from", "modules"});
    SiteSnapshot site;
    path.clear();
    site.takenAt = text(document, {}, "taken_at", utcTime, "a UTC time (2026-12-08T02:30:00Z)");
    site.from = text(document, {}, "from", Ipv4Address::parse, "an IPv4 address");
    path.clear();
    const Json& modules = field(document, path, "modules", Json::value_t::array);
    std::set<MacAddress> seen;
    for (std::size_t i = 0; i < modules.size(); ++i) {
        const JsonPath at = {"modules", std::to_string(i)};
        if (!modules[i].is_object()) {
            fail(at, std::string("is ") + modules[i].type_name() + ", not object");
        }
        site.modules.push_back(module(modules[i], at));
        if (!seen.insert(site.modules.back().mac).second) {
            fail({"modules", std::to_string(i), "mac"}, "the file names this module twice");
        }
    }
    sortSiteModules(site.modules);
    return site;
}

SiteModule SiteReader::module(const Json& object, const JsonPath& path) const {
    onlyKeys(object, path, {"mac", "ip", "mask", "gateway", "answered", "output"});
    SiteModule module;
    module.mac = text(
        object, path, "mac", [](const std::string& t) { return parseMac(t); },
        "a MAC (six hex pairs)");
    module.ip = text(object, path, "ip", moduleAddress, "an address a module may have");
    module.mask = text(object, path, "mask", maskAddress, "a network mask");
    module.gateway = text(object, path, "gateway", Ipv4Address::parse, "an IPv4 address");
    module.answered = !object.contains("answered") || flag(object, path, "answered");
    if (module.answered) {
        JsonPath at = path;
        module.output = output(field(object, at, "output", Json::value_t::object), at);
    } else if (object.contains("output")) {
        fail(path, "a module that did not answer has no \"output\"");
    }
    return module;
}

SiteOutput SiteReader::output(const Json& object, const JsonPath& path) const {
    const std::string form = text(
        object, path, "form",
        [](const std::string& t) {
            return t == "single" || t == "entries" ? std::optional(t) : std::nullopt;
        },
        "a form (\"single\" or \"entries\")");
    SiteOutput output;
    output.entries = form == "entries";
    if (output.entries) {
        onlyKeys(object, path, {"form", "outputs", "inputs"});
        entries(object, path, output);
        return output;
    }
    onlyKeys(object, path, {"form", "protocol", "destination", "no_stuffing", "running"});
    output.protocol =
        text(object, path, "protocol", parseProtocol, "a protocol (\"rtp+\", \"rtp\" or \"udp\")");
    const Destination destination =
        text(object, path, "destination", parseEndpoint, "a destination (A.B.C.D:PORT)");
    output.destinationIp = destination.ip;
    output.destinationPort = destination.port;
    output.noStuffing = flag(object, path, "no_stuffing");
    output.running = flag(object, path, "running");
    return output;
}

void SiteReader::entries(const Json& object, const JsonPath& path, SiteOutput& output) const {
    for (const char* list : {"outputs", "inputs"}) {
        JsonPath at = path;
        const Json& items = field(object, at, list, Json::value_t::array);
        if (items.size() > static_cast<std::size_t>(kMaxStreamEntries)) {
            fail(at, "more than " + std::to_string(kMaxStreamEntries) + " entries");
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            JsonPath item = at;
            item.push_back(std::to_string(i));
            const bool out = std::string_view(list) == "outputs";
            if (!items[i].is_object()) {
                fail(item, std::string("is ") + items[i].type_name() + ", not object");
            }
            onlyKeys(items[i], item,
                     out ? std::set<std::string>{"destination", "running"}
                         : std::set<std::string>{"source"});
            const Destination end = text(items[i], item, out ? "destination" : "source",
                                         parseEndpoint, "an address and port (A.B.C.D:PORT)");
            if (out) {
                output.outputs.push_back({end.ip, end.port, flag(items[i], item, "running")});
            } else {
                output.inputs.push_back({end.ip, end.port});
            }
        }
    }
    output.running = std::any_of(output.outputs.begin(), output.outputs.end(),
                                 [](const OutputSummary& entry) { return entry.running; });
}

}  // namespace

std::string siteFileText(const SiteSnapshot& site) {
    OrderedJson document;
    document["format"] = kSiteFileFormat;
    document["taken_at"] = site.takenAt;
    document["from"] = site.from.text();
    document["modules"] = OrderedJson::array();
    for (const SiteModule& module : site.modules) {
        OrderedJson json;
        json["mac"] = formatMacAddress(module.mac);
        json["ip"] = module.ip.text();
        json["mask"] = module.mask.text();
        json["gateway"] = module.gateway.text();
        if (module.answered) {
            json["output"] = outputJson(module.output);
        } else {
            json["answered"] = false;
        }
        document["modules"].push_back(std::move(json));
    }
    return document.dump(2) + '\n';
}

SiteSnapshot parseSiteFile(const std::string& text, const std::string& name) {
    Json document;
    try {
        document = Json::parse(text);
    } catch (const Json::parse_error& e) {
        const std::string what = e.what();
        const std::size_t reason = what.find(": ", what.find("parse error"));
        throw CommandError(
            kExitUsage,
            printable(name + " line " +
                      std::to_string(lineOfOffset(text, e.byte > 0 ? e.byte - 1 : 0)) +
                      ": not valid JSON (" +
                      (reason != std::string::npos ? what.substr(reason + 2) : what) + ")"));
    }
    return SiteReader(text, name).site(document);
}

SiteSnapshot readSiteFile(const std::string& path) {
    std::string text;
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        errno = 0;
        std::ifstream in(path, std::ios::binary);
        if (in) {
            text.assign(std::istreambuf_iterator<char>(in), {});
        }
        if (!in.is_open() || in.bad()) {
            throw CommandError(kExitUsage, "cannot read " + path + systemReason(errno));
        }
    }
    return parseSiteFile(text, path == "-" ? "standard input" : path);
}

}  // namespace corvane::cli
