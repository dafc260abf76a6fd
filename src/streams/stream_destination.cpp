#include "streams/stream_destination.h"

#include <arpa/inet.h>

#include <charconv>

namespace corvane {

namespace {

std::optional<std::uint32_t> parseAddress(std::string_view text) {
    in_addr address{};
    if (text.empty() || inet_pton(AF_INET, std::string(text).c_str(), &address) != 1) {
        return std::nullopt;
    }
    return address.s_addr;
}

}  // namespace

std::string storedIpv4Text(std::uint32_t stored) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = stored;
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

bool StreamDestination::isMulticast() const {
    return (ntohl(address) >> 28) == 0xE;
}

std::string StreamDestination::text() const {
    return storedIpv4Text(address) + ":" + std::to_string(port);
}

std::string StreamDestination::sourceText() const {
    return source == 0 ? std::string() : storedIpv4Text(source);
}

std::optional<StreamDestination> parseStreamDestination(std::string_view text, std::string& error) {
    StreamDestination destination;
    const std::size_t at = text.find('@');
    if (at != std::string_view::npos) {
        auto source = parseAddress(text.substr(0, at));
        if (!source || *source == 0) {
            error = "'" + std::string(text.substr(0, at)) + "' is not a source IPv4 address";
            return std::nullopt;
        }
        destination.source = *source;
        text.remove_prefix(at + 1);
    }
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        error = "expected A.B.C.D:PORT, got '" + std::string(text) + "'";
        return std::nullopt;
    }
    auto address = parseAddress(text.substr(0, colon));
    const std::string_view portText = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, status] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (!address || *address == 0) {
        error = "'" + std::string(text.substr(0, colon)) + "' is not an IPv4 address";
        return std::nullopt;
    }
    if (status != std::errc() || end != portText.data() + portText.size() || port == 0 ||
        port > 65535) {
        error = "'" + std::string(portText) + "' is not a port 1..65535";
        return std::nullopt;
    }
    destination.address = *address;
    destination.port = static_cast<std::uint16_t>(port);
    if (destination.source != 0 && !destination.isMulticast()) {
        error = "a source (SOURCE@) needs a multicast group";
        return std::nullopt;
    }
    return destination;
}

}  // namespace corvane
