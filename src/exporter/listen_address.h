// --web.listen-address: "HOST:PORT" as Prometheus's exporters take it: "127.0.0.1:9730",
// "[::1]:9730", or ":9730" for every IPv4 address.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::exporter {

// The port of this exporter's own: in the range Prometheus exporters use, away from the
// modules' 9100 and 9101 so that a lab or a head-end host can run both.
inline constexpr int kDefaultPort = 9730;
inline constexpr char kDefaultListenAddress[] = "127.0.0.1:9730";

struct ListenAddress {
    std::string host;  // for getaddrinfo: a name, an IPv4 or an IPv6 address
    int port = 0;
};

std::optional<ListenAddress> parseListenAddress(std::string_view text);

}  // namespace corvane::exporter
