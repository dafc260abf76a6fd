#include "module_config.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

#include "ts_generator.h"

namespace corvane::modsim {

namespace {

constexpr std::size_t kSingleFieldBase = kTagLength;

std::optional<std::string> setSingleByte(SimModule& module, std::size_t offset,
                                         std::string_view value) {
    auto number = parseNumber(value, 0xFF);
    if (!number) {
        return "expected a number 0..255";
    }
    module.single[offset - kSingleFieldBase] = static_cast<std::uint8_t>(*number);
    return std::nullopt;
}

std::optional<std::string> setSingleWord(SimModule& module, std::size_t offset,
                                         std::string_view value) {
    auto number = parseNumber(value, 0xFFFF);
    if (!number) {
        return "expected a number 0..65535";
    }
    putU16(&module.single[offset - kSingleFieldBase], static_cast<std::uint16_t>(*number));
    return std::nullopt;
}

std::optional<std::string> setSingleAddress(SimModule& module, std::size_t offset,
                                            std::string_view value) {
    auto ip = parseIpv4(value);
    if (!ip) {
        return "expected an IPv4 address";
    }
    putIpv4(&module.single[offset - kSingleFieldBase], *ip);
    return std::nullopt;
}

std::vector<std::string_view> splitOn(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::optional<std::string> addOutput(SimModule& module, std::string_view value) {
    auto parts = splitOn(value, ',');
    if (parts.size() != 4 && parts.size() != 5) {
        return "expected CONTROL,IP,PORT,TXPARAMS[,AUXWORD]";
    }
    auto control = parseNumber(parts[0], 0xFFFF);
    auto ip = parseIpv4(parts[1]);
    auto port = parseNumber(parts[2], 0xFFFF);
    auto tx = parseNumber(parts[3], 0xFFFF);
    auto aux = parts.size() == 5 ? parseNumber(parts[4], 0xFFFF) : std::optional<unsigned long>(0);
    if (!control || !ip || !port || !tx || !aux) {
        return "expected CONTROL,IP,PORT,TXPARAMS[,AUXWORD]";
    }
    module.entries.push_back(
        outputEntry(static_cast<std::uint16_t>(*control), *ip, static_cast<std::uint16_t>(*port),
                    static_cast<std::uint16_t>(*tx), static_cast<std::uint16_t>(*aux)));
    return std::nullopt;
}

std::optional<std::string> addInput(SimModule& module, std::string_view value) {
    auto parts = splitOn(value, ',');
    if (parts.size() != 3) {
        return "expected CONTROL,IP,PORT";
    }
    auto control = parseNumber(parts[0], 0xFFFF);
    auto ip = parseIpv4(parts[1]);
    auto port = parseNumber(parts[2], 0xFFFF);
    if (!control || !ip || !port) {
        return "expected CONTROL,IP,PORT";
    }
    module.entries.push_back(
        inputEntry(static_cast<std::uint16_t>(*control), *ip, static_cast<std::uint16_t>(*port)));
    return std::nullopt;
}

std::optional<std::string> addRawEntry(SimModule& module, std::string_view value) {
    if (value.size() != 2 * kStatusEntryLength) {
        return "expected 32 hexadecimal digits";
    }
    std::array<std::uint8_t, kStatusEntryLength> entry{};
    for (std::size_t i = 0; i < entry.size(); ++i) {
        auto byte = parseNumber("0x" + std::string(value.substr(2 * i, 2)), 0xFF);
        if (!byte) {
            return "expected 32 hexadecimal digits";
        }
        entry[i] = static_cast<std::uint8_t>(*byte);
    }
    module.entries.push_back(entry);
    return std::nullopt;
}

std::optional<std::string> setFlag(bool& flag, std::string_view value) {
    if (value != "0" && value != "1") {
        return "expected 0 or 1";
    }
    flag = value == "1";
    return std::nullopt;
}

std::optional<std::string> setLength(std::size_t& length, std::string_view value,
                                     std::size_t maximum) {
    auto number = parseNumber(value, maximum);
    if (!number) {
        return "expected a length 0.." + std::to_string(maximum);
    }
    length = *number;
    return std::nullopt;
}

std::optional<std::string> setPorts(SimModule& module, std::string_view value) {
    if (value != "9100" && value != "9101" && value != "both") {
        return "expected 9100, 9101 or both";
    }
    module.onPortA = value != "9101";
    module.onPortB = value != "9100";
    return std::nullopt;
}

std::optional<std::string> setStray(SimModule& module, std::string_view value) {
    const std::size_t colon = value.find(':');
    if (colon == std::string_view::npos) {
        return "expected IP:PORT";
    }
    auto ip = parseIpv4(value.substr(0, colon));
    auto port = parseNumber(value.substr(colon + 1), 0xFFFF);
    if (!ip || !port || *port == 0) {
        return "expected IP:PORT";
    }
    module.strayFrom = Endpoint{*ip, static_cast<std::uint16_t>(*port)};
    return std::nullopt;
}

std::optional<std::string> setAddress(std::uint32_t& target, std::string_view value) {
    auto ip = parseIpv4(value);
    if (!ip) {
        return "expected an IPv4 address";
    }
    target = *ip;
    return std::nullopt;
}

std::optional<std::string> setMac(SimModule& module, std::string_view value) {
    auto bytes = parseMacBytes(value);
    if (!bytes || bytes->size() != module.mac.size()) {
        return "expected a MAC address of six octets";
    }
    std::copy(bytes->begin(), bytes->end(), module.mac.begin());
    return std::nullopt;
}

}  // namespace

std::optional<std::uint32_t> parseIpv4(std::string_view text) {
    in_addr address{};
    if (inet_pton(AF_INET, std::string(text).c_str(), &address) != 1) {
        return std::nullopt;
    }
    return ntohl(address.s_addr);
}

std::optional<std::vector<std::uint8_t>> parseMacBytes(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    for (std::string_view part : splitOn(text, ':')) {
        if (part.empty() || part.size() > 2) {
            return std::nullopt;
        }
        auto byte = parseNumber("0x" + std::string(part), 0xFF);
        if (!byte) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(*byte));
    }
    return bytes;
}

std::optional<unsigned long> parseNumber(std::string_view text, unsigned long maximum) {
    const std::string copy(text);
    if (copy.empty() || copy[0] == '-' || copy[0] == '+') {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(copy.c_str(), &end, 0);
    if (errno != 0 || end == copy.c_str() || *end != '\0' || value > maximum) {
        return std::nullopt;
    }
    return value;
}

std::string ipv4Text(std::uint32_t hostOrder) {
    return std::to_string(hostOrder >> 24) + '.' + std::to_string(hostOrder >> 16 & 0xFF) + '.' +
           std::to_string(hostOrder >> 8 & 0xFF) + '.' + std::to_string(hostOrder & 0xFF);
}

SimModule defaultModule() {
    SimModule module;
    // A stopped UDP output to a multicast group: the state a module leaves the factory in.
    module.single[8 - kSingleFieldBase] = 2;
    putU16(&module.single[10 - kSingleFieldBase], 1234);
    putIpv4(&module.single[12 - kSingleFieldBase], 0xEF010101);  // 239.1.1.1
    return module;
}

namespace {

std::optional<std::string> setClass(SimModule& m, std::string_view value) {
    auto number = parseNumber(value, 0xFFFF);
    if (!number) {
        return "expected a number 0..65535";
    }
    m.deviceClass = static_cast<std::uint16_t>(*number);
    return std::nullopt;
}

std::optional<std::string> setDelay(SimModule& m, std::string_view value) {
    auto number = parseNumber(value, 600000);
    if (!number) {
        return "expected milliseconds 0..600000";
    }
    m.delayMs = static_cast<int>(*number);
    return std::nullopt;
}

std::optional<std::string> setShortLength(SimModule& m, std::string_view value) {
    std::size_t length = 0;
    if (auto error = setLength(length, value, kMaxDatagram)) {
        return error;
    }
    m.shortLength = length;
    return std::nullopt;
}

std::optional<std::string> setStreamRate(SimModule& m, std::string_view value) {
    auto number = parseNumber(value, 1000000000);
    if (!number || *number < kSimMinimumRate) {
        return "expected bits per second " + std::to_string(static_cast<long>(kSimMinimumRate)) +
               "..1000000000";
    }
    m.stream.rate = static_cast<double>(*number);
    return std::nullopt;
}

std::optional<std::string> setStreamDrop(SimModule& m, std::string_view value) {
    auto number = parseNumber(value, 1000);
    if (!number) {
        return "expected datagrams a second 0..1000";
    }
    m.stream.dropPerSecond = static_cast<int>(*number);
    return std::nullopt;
}

std::optional<std::string> setStreamFault(SimModule& m, std::string_view value) {
    static constexpr std::pair<std::string_view, StreamFault> kFaults[] = {
        {"none", StreamFault::none},         {"silent", StreamFault::silent},
        {"stuffing", StreamFault::onlyNull}, {"no-pat", StreamFault::noPat},
        {"burst", StreamFault::burst},
    };
    for (const auto& [name, fault] : kFaults) {
        if (name == value) {
            m.stream.fault = fault;
            return std::nullopt;
        }
    }
    return "expected none, silent, stuffing, no-pat or burst";
}

using FieldSetter = std::optional<std::string> (*)(SimModule&, std::string_view);

struct FieldRule {
    std::string_view key;
    FieldSetter apply;
};

// One row per key of a module line; the numbers are byte offsets in the settings record.
constexpr FieldRule kFieldRules[] = {
    {"mac", setMac},
    {"ip", [](SimModule& m, std::string_view v) { return setAddress(m.ip, v); }},
    {"mask", [](SimModule& m, std::string_view v) { return setAddress(m.mask, v); }},
    {"gateway", [](SimModule& m, std::string_view v) { return setAddress(m.gateway, v); }},
    {"gw", [](SimModule& m, std::string_view v) { return setAddress(m.gateway, v); }},
    {"class", setClass},
    {"any-class", [](SimModule& m, std::string_view v) { return setFlag(m.answersAnyClass, v); }},
    {"ports", setPorts},
    {"protocol", [](SimModule& m, std::string_view v) { return setSingleByte(m, 8, v); }},
    {"mode", [](SimModule& m, std::string_view v) { return setSingleByte(m, 9, v); }},
    {"port", [](SimModule& m, std::string_view v) { return setSingleWord(m, 10, v); }},
    {"dest", [](SimModule& m, std::string_view v) { return setSingleAddress(m, 12, v); }},
    {"flags", [](SimModule& m, std::string_view v) { return setSingleWord(m, 16, v); }},
    {"aux1", [](SimModule& m, std::string_view v) { return setSingleWord(m, 18, v); }},
    {"auxaddr", [](SimModule& m, std::string_view v) { return setSingleAddress(m, 20, v); }},
    {"aux2", [](SimModule& m, std::string_view v) { return setSingleWord(m, 24, v); }},
    {"auxb1", [](SimModule& m, std::string_view v) { return setSingleByte(m, 26, v); }},
    {"byte27", [](SimModule& m, std::string_view v) { return setSingleByte(m, 27, v); }},
    {"auxb2", [](SimModule& m, std::string_view v) { return setSingleByte(m, 28, v); }},
    {"auxb3", [](SimModule& m, std::string_view v) { return setSingleByte(m, 29, v); }},
    {"out", addOutput},
    {"in", addInput},
    {"entry", addRawEntry},
    {"hello-length",
     [](SimModule& m, std::string_view v) { return setLength(m.helloLength, v, kMaxDatagram); }},
    {"passport-length",
     [](SimModule& m, std::string_view v) { return setLength(m.passportLength, v, kMaxDatagram); }},
    {"delay", setDelay},
    {"silent", [](SimModule& m, std::string_view v) { return setFlag(m.silent, v); }},
    {"wrong-tag", [](SimModule& m, std::string_view v) { return setFlag(m.wrongTag, v); }},
    {"duplicate", [](SimModule& m, std::string_view v) { return setFlag(m.duplicate, v); }},
    {"short", setShortLength},
    {"stray-from", setStray},
    {"stream-rate", setStreamRate},
    {"stream-drop", setStreamDrop},
    {"stream-fault", setStreamFault},
};

}  // namespace

std::optional<std::string> applyField(SimModule& m, std::string_view key, std::string_view value) {
    for (const FieldRule& rule : kFieldRules) {
        if (rule.key == key) {
            return rule.apply(m, value);
        }
    }
    return "unknown field";
}

std::optional<std::string> applyFields(SimModule& module, std::string_view line) {
    std::istringstream words{std::string(line)};
    std::string word;
    while (words >> word) {
        const std::size_t equals = word.find('=');
        if (equals == std::string::npos) {
            return "'" + word + "': expected key=value";
        }
        const std::string_view key = std::string_view(word).substr(0, equals);
        const std::string_view value = std::string_view(word).substr(equals + 1);
        if (auto error = applyField(module, key, value)) {
            return "'" + word + "': " + *error;
        }
    }
    return std::nullopt;
}

std::optional<std::string> parseModuleLine(std::string_view line, SimModule& module) {
    module = defaultModule();
    if (auto error = applyFields(module, line)) {
        return error;
    }
    const std::string text(line);
    if (text.find("mac=") == std::string::npos || text.find("ip=") == std::string::npos) {
        return "a module needs mac= and ip=";
    }
    return std::nullopt;
}

std::optional<std::string> readModuleFile(const std::string& path,
                                          std::vector<SimModule>& modules) {
    std::ifstream file(path);
    if (!file) {
        return path + ": cannot be read";
    }
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) {
            line.erase(hash);
        }
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        SimModule module;
        if (auto error = parseModuleLine(line, module)) {
            return path + ":" + std::to_string(number) + ": " + *error;
        }
        modules.push_back(module);
    }
    if (file.bad()) {
        return path + ": read error";
    }
    return std::nullopt;
}

std::vector<SimModule> makeRack(const RackOptions& options) {
    std::vector<SimModule> rack;
    rack.reserve(static_cast<std::size_t>(options.count));
    for (int i = 0; i < options.count; ++i) {
        SimModule module = defaultModule();
        const auto index = static_cast<std::uint32_t>(i + 1);
        // The prefix fills the first octets; the module number, big-endian, the rest.
        for (std::size_t octet = 0; octet < module.mac.size(); ++octet) {
            const std::size_t fromEnd = module.mac.size() - 1 - octet;
            module.mac[octet] =
                octet < options.macPrefix.size()
                    ? options.macPrefix[octet]
                    : static_cast<std::uint8_t>(fromEnd < 4 ? index >> (8 * fromEnd) : 0);
        }
        module.ip = options.baseIp + static_cast<std::uint32_t>(i);
        module.mask = options.mask;
        module.gateway = options.gateway;
        module.deviceClass = options.deviceClass;
        setPorts(module, options.ports);
        module.delayMs =
            options.delayMs + (options.count > 0 ? options.delaySpreadMs * i / options.count : 0);
        rack.push_back(module);
    }
    return rack;
}

}  // namespace corvane::modsim
