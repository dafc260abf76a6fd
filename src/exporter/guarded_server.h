// cpp-httplib's server with the bounds an exporter on an operator's network needs, and
// TLS from the web configuration in force when each connection arrives:
// - a request's head (request line and headers) larger than `maxRequestHeadBytes` is
//   answered 414 or 431 and the connection closed;
// - a connection must begin a request within `idleWait` and send the rest of its head
//   within `requestRead`, and take each whole answer within `responseWrite`; a client
//   that trickles a byte at a time is cut off all the same;
// - at most `workerThreads` connections are served at once and at most
//   `maxWaitingConnections` wait for a worker, each at most `lineWait`; one client
//   address holds at most `maxConnectionsPerClient`; one more is turned away at once
//   with a 503;
// - on stop, connections waiting for a request or for a worker are closed at once; the
//   requests being served are answered first;
// - a request for several ranges is answered whole (a 401 or a page repeated for each
//   range would multiply what a stranger can make it send);
// - the listening socket is not shared (no SO_REUSEPORT): a second exporter on the same
//   address and port fails to start instead of taking half the connections;
// - refusals (400, 503, a failed TLS handshake, 414 and 431) are logged, rate-limited.
// Debian's cpp-httplib is a compiled library, so its own compile-time limits cannot be
// changed; this class serves each connection itself through httplib's request parser.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "exporter/connection_line.h"
#include "files/file_descriptor.h"

namespace corvane::exporter {

struct HttpLimits {
    std::size_t workerThreads = 16;
    std::size_t maxWaitingConnections = 64;
    std::size_t maxConnectionsPerClient = 12;
    std::chrono::milliseconds lineWait{5000};
    std::size_t maxRequestHeadBytes = 8192;
    std::chrono::milliseconds idleWait{5000};
    std::chrono::milliseconds requestRead{10000};
    std::chrono::milliseconds responseWrite{10000};
    std::chrono::milliseconds handshake{10000};
};

// The TLS context for a connection that has just arrived, or null for plain HTTP.
using TlsContextSource = std::function<std::shared_ptr<SSL_CTX>()>;

// The time by which the line of waiting connections is kept; tests give a scripted one.
// The waits on a connection's own socket (handshake, request, answer) are poll() time-outs
// on the steady clock, whatever this says.
using LineClock = std::function<std::chrono::steady_clock::time_point()>;

class GuardedServer : public httplib::Server {
public:
    GuardedServer(const HttpLimits& limits, TlsContextSource tls,
                  LineClock lineClock = std::chrono::steady_clock::now);
    ~GuardedServer() override;

private:
    // On the accepting thread: the connection joins the line or is turned away.
    bool process_and_close_socket(socket_t sock) override;
    void startWorkers();
    // The listening socket has closed: closes what waits and joins the workers.
    void stopWorkers();
    void work();
    void serve(int fd, const std::string& client);
    // Answers 503 with `why` and closes the connection.
    void turnAway(int fd, const std::string& client, const std::string& why);

    const HttpLimits m_limits;
    const TlsContextSource m_tls;
    const LineClock m_lineClock;
    FileDescriptor m_stopFd;  // an eventfd, readable once the server stops
    std::mutex m_mutex;
    std::condition_variable m_wake;
    ConnectionLine m_line;
    std::vector<std::thread> m_workers;
};

}  // namespace corvane::exporter
