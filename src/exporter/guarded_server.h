// cpp-httplib's server with the bounds an exporter on an operator's network needs, and
// TLS from the web configuration in force when each connection arrives:
// - a request's head (request line and headers) larger than `maxRequestHeadBytes` is
//   answered 414 or 431 and the connection closed;
// - a connection must begin a request within `idleWait` and send the rest of its head
//   within `requestRead`, and take each whole answer within `responseWrite`; a client
//   that trickles a byte at a time is cut off all the same;
// - at most `workerThreads` connections are served at once and at most
//   `maxWaitingConnections` wait for a worker; one more is turned away at once.
// Debian's cpp-httplib is a compiled library, so its own compile-time limits cannot be
// changed; this class serves each connection itself through httplib's request parser.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include <httplib.h>

namespace corvane::exporter {

struct HttpLimits {
    std::size_t workerThreads = 16;
    std::size_t maxWaitingConnections = 64;
    std::size_t maxRequestHeadBytes = 8192;
    std::chrono::milliseconds idleWait{5000};
    std::chrono::milliseconds requestRead{10000};
    std::chrono::milliseconds responseWrite{10000};
    std::chrono::milliseconds handshake{10000};
};

// The TLS context for a connection that has just arrived, or null for plain HTTP.
using TlsContextSource = std::function<std::shared_ptr<SSL_CTX>()>;

class GuardedServer : public httplib::Server {
public:
    GuardedServer(const HttpLimits& limits, TlsContextSource tls);

private:
    bool process_and_close_socket(socket_t sock) override;

    const HttpLimits m_limits;
    const TlsContextSource m_tls;
};

}  // namespace corvane::exporter
