#include "streams/stream_destination.h"

#include <charconv>

namespace corvane {

bool StreamDestination::isMulticast() const {
    return address.isMulticast();
}

std::string StreamDestination::text() const {
    return address.text() + ":" + std::to_string(port);
}

std::string StreamDestination::sourceText() const {
    return source.isUnspecified() ? std::string() : source.text();
}

std::optional<StreamDestination> parseStreamDestination(std::string_view text, std::string& error) {
    StreamDestination destination;
    const std::size_t at = text.find('@');
    if (at != std::string_view::npos) {
        auto source = Ipv4Address::parse(text.substr(0, at));
        if (!source || source->isUnspecified()) {
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
    auto address = Ipv4Address::parse(text.substr(0, colon));
    const std::string_view portText = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, status] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (!address || address->isUnspecified()) {
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
    if (!destination.source.isUnspecified() && !destination.isMulticast()) {
        error = "a source (SOURCE@) needs a multicast group";
        return std::nullopt;
    }
    return destination;
}

}  // namespace corvane
