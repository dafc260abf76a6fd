#include "devices/address_input.h"

namespace corvane {
namespace {

constexpr std::size_t kMaxPortDigits = 5;
constexpr unsigned kMaxPort = 65535;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Decimal digits only, at most `maxDigits` of them; nothing for anything else.
std::optional<unsigned> parseDecimal(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : text) {
        if (!isDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

}  // namespace

std::optional<MacAddress> parseMac(std::string_view text) {
    constexpr std::size_t kTextLength = 17;  // six pairs and five separators
    if (text.size() != kTextLength || (text[2] != ':' && text[2] != '-')) {
        return std::nullopt;
    }
    const char separator = text[2];
    MacAddress mac{};
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const std::size_t at = i * 3;
        const int high = hexValue(text[at]);
        const int low = hexValue(text[at + 1]);
        if (high < 0 || low < 0 || (i + 1 < mac.size() && text[at + 2] != separator)) {
            return std::nullopt;
        }
        mac[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return mac;
}

std::optional<std::uint16_t> parsePort(std::string_view text) {
    const auto value = parseDecimal(text, kMaxPortDigits);
    if (!value || *value < 1 || *value > kMaxPort) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*value);
}

std::optional<Destination> parseDestination(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto ip = Ipv4Address::parse(text.substr(0, colon));
    const auto port = parsePort(text.substr(colon + 1));
    if (!ip || !port) {
        return std::nullopt;
    }
    return Destination{*ip, *port};
}

}  // namespace corvane
