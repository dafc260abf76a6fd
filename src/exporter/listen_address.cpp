#include "exporter/listen_address.h"

#include "devices/address_input.h"

namespace corvane::exporter {

std::optional<ListenAddress> parseListenAddress(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto port = parsePort(text.substr(colon + 1));
    std::string_view host = text.substr(0, colon);
    if (!port) {
        return std::nullopt;
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt;  // an IPv6 address needs its brackets
    }
    return ListenAddress{host.empty() ? "0.0.0.0" : std::string(host), *port};
}

}  // namespace corvane::exporter
