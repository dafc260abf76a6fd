#include "exporter/guarded_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>

#include "exporter/exporter_log.h"

namespace corvane::exporter {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The client of the connection this thread serves, for httplib's logger.
thread_local std::string t_client;

// A whole 503 answer that closes the connection, its length always that of its body.
std::string busyAnswer(const std::string& why) {
    const std::string body = why + "; try again.\r\n";
    return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nRetry-After: 1\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// Waits until `fd` is ready for `events` or `deadline` has passed; false at once when
// `stopFd` (when not negative) becomes readable.
bool waitReady(int fd, short events, Clock::time_point deadline, int stopFd = -1) {
    for (;;) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd entries[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const int ready = ::poll(entries, stopFd >= 0 ? 2 : 1,
                                 static_cast<int>(std::min<long long>(left, 1000 * 60)));
        if (ready > 0) {
            return entries[1].revents == 0;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

FileDescriptor makeEventFd() {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    return FileDescriptor(fd);
}

// Without SO_REUSEPORT, which cpp-httplib sets: with it a second exporter on the same
// address and port would start and take part of the connections. SO_REUSEADDR lets a
// restart bind while old connections linger in TIME_WAIT.
void exclusiveSocketOptions(socket_t sock) {
    const int yes = 1;
    if (::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0) {
        // Only a restart right after a stop is affected: bind says so if it matters.
        logLine(LogLevel::warn, std::string("cannot set SO_REUSEADDR: ") + std::strerror(errno));
    }
}

// Reads what the client has already sent, so that closing does not reset the connection
// and discard the answer before the client reads it.
void discardPending(int fd) {
    char scratch[4096];
    for (int i = 0; i < 4 && ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0; ++i) {
    }
}

// The address and port of one end of a connection (getpeername or getsockname); empty
// when the system does not say.
std::string socketAddress(int fd, int (*nameOf)(int, sockaddr*, socklen_t*), int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    char text[INET6_ADDRSTRLEN] = {};
    port = 0;
    if (nameOf(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    }
    return text;
}

// One connection as httplib's parser reads and writes it, plain or TLS, every wait
// bounded by the current deadline.
class GuardedStream final : public httplib::Stream {
public:
    GuardedStream(int fd, const HttpLimits& limits) : m_fd(fd), m_limits(limits) {}
    ~GuardedStream() override {
        if (m_ssl != nullptr) {
            // One try at a clean close; a peer that does not read it loses nothing.
            SSL_shutdown(m_ssl);
            SSL_free(m_ssl);
        }
    }

    // Whether the TLS handshake succeeded; when not, `problem` says why, or is empty
    // when the client closed before sending anything.
    bool handshake(SSL_CTX* context, std::string& problem) {
        m_ssl = SSL_new(context);
        if (m_ssl == nullptr || SSL_set_fd(m_ssl, m_fd) != 1) {
            problem = "cannot set up TLS for the connection";
            return false;
        }
        const auto deadline = Clock::now() + m_limits.handshake;
        ERR_clear_error();
        for (;;) {
            const int result = SSL_accept(m_ssl);
            if (result == 1) {
                return true;
            }
            const int error = SSL_get_error(m_ssl, result);
            if (error == SSL_ERROR_SSL) {
                const char* reason = ERR_reason_error_string(ERR_peek_last_error());
                problem = reason != nullptr ? reason : "protocol error";
                return false;
            }
            if (!waitForTls(result, deadline)) {
                problem = Clock::now() >= deadline ? "not completed in time" : "";
                return false;
            }
        }
    }

    // Whether a request begins within the idle wait, before the server stops.
    bool awaitRequest(int stopFd) {
        if (is_readable()) {
            return true;
        }
        return waitReady(m_fd, POLLIN, Clock::now() + m_limits.idleWait, stopFd);
    }

    void beginRequest() {
        m_readDeadline = Clock::now() + m_limits.requestRead;
        m_writeDeadline.reset();
        m_headBytes = 0;
        m_sawLineEnd = false;
    }

    bool refused() const { return m_refused; }
    bool sawLineEnd() const { return m_sawLineEnd; }
    bool cutOff() const { return m_cutOff; }

    bool is_readable() const override {
        return m_begin < m_end || (m_ssl != nullptr && SSL_pending(m_ssl) > 0);
    }

    bool is_writable() const override {
        return !m_refused && waitReady(m_fd, POLLOUT, writeDeadline());
    }

    ssize_t read(char* ptr, size_t size) override {
        if (m_refused || m_cutOff) {
            return -1;
        }
        if (m_begin == m_end) {
            const ssize_t got = fill();
            if (got <= 0) {
                return got;
            }
        }
        const std::size_t n = std::min(size, m_end - m_begin);
        if (m_headBytes + n > m_limits.maxRequestHeadBytes) {
            refuse();
            return -1;
        }
        std::memcpy(ptr, m_buffer.data() + m_begin, n);
        m_sawLineEnd = m_sawLineEnd || std::memchr(ptr, '\n', n) != nullptr;
        m_begin += n;
        m_headBytes += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (m_cutOff) {
            return -1;  // a client too slow to send its request gets no answer at all
        }
        if (m_refused) {
            return static_cast<ssize_t>(size);  // the refusal has been sent instead
        }
        return writeAll(ptr, size) ? static_cast<ssize_t>(size) : -1;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = socketAddress(m_fd, ::getpeername, port);
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = socketAddress(m_fd, ::getsockname, port);
    }

    socket_t socket() const override { return m_fd; }

private:
    Clock::time_point writeDeadline() const {
        return m_writeDeadline.value_or(Clock::now() + m_limits.responseWrite);
    }

    // After an OpenSSL call that returned `result`: waits for what it needs, or false when
    // it failed for good or the deadline passed.
    bool waitForTls(int result, Clock::time_point deadline) {
        switch (SSL_get_error(m_ssl, result)) {
            case SSL_ERROR_WANT_READ:
                return waitReady(m_fd, POLLIN, deadline);
            case SSL_ERROR_WANT_WRITE:
                return waitReady(m_fd, POLLOUT, deadline);
            default:
                return false;
        }
    }

    // Reads what has arrived into the buffer: the count, 0 at the end, -1 on failure or
    // when the request's time is up.
    ssize_t fill() {
        m_begin = m_end = 0;
        for (;;) {
            if (m_ssl != nullptr) {
                const int got = SSL_read(m_ssl, m_buffer.data(), static_cast<int>(m_buffer.size()));
                if (got > 0) {
                    m_end = static_cast<std::size_t>(got);
                    return got;
                }
                if (SSL_get_error(m_ssl, got) == SSL_ERROR_ZERO_RETURN) {
                    return 0;
                }
                if (!waitForTls(got, m_readDeadline)) {
                    return stopReading();
                }
                continue;
            }
            const ssize_t got = ::recv(m_fd, m_buffer.data(), m_buffer.size(), 0);
            if (got >= 0) {
                m_end = static_cast<std::size_t>(got);
                return got;
            }
            if (errno == EINTR) {
                continue;
            }
            if ((errno != EAGAIN && errno != EWOULDBLOCK) ||
                !waitReady(m_fd, POLLIN, m_readDeadline)) {
                return stopReading();
            }
        }
    }

    bool writeAll(const char* ptr, std::size_t size) {
        if (!m_writeDeadline) {
            m_writeDeadline = Clock::now() + m_limits.responseWrite;
        }
        std::size_t done = 0;
        while (done < size) {
            if (m_ssl != nullptr) {
                const int sent =
                    SSL_write(m_ssl, ptr + done,
                              static_cast<int>(std::min<std::size_t>(size - done, 1 << 20)));
                if (sent > 0) {
                    done += static_cast<std::size_t>(sent);
                } else if (!waitForTls(sent, *m_writeDeadline)) {
                    return false;
                }
                continue;
            }
            const ssize_t sent = ::send(m_fd, ptr + done, size - done, MSG_NOSIGNAL);
            if (sent >= 0) {
                done += static_cast<std::size_t>(sent);
            } else if (errno != EINTR && ((errno != EAGAIN && errno != EWOULDBLOCK) ||
                                          !waitReady(m_fd, POLLOUT, *m_writeDeadline))) {
                return false;
            }
        }
        return true;
    }

    // The request did not come in time, or the connection failed: nothing more is said.
    ssize_t stopReading() {
        m_cutOff = true;
        return -1;
    }

    // The head is too large: say so in place of any answer, and read no more.
    void refuse() {
        const std::string body = m_sawLineEnd ? "The request's headers are too large.\r\n"
                                              : "The request line is too long.\r\n";
        const std::string status =
            m_sawLineEnd ? "431 Request Header Fields Too Large" : "414 URI Too Long";
        const std::string answer =
            "HTTP/1.1 " + status +
            "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nConnection: close\r\n\r\n" + body;
        m_writeDeadline.reset();
        writeAll(answer.data(), answer.size());  // the connection closes either way
        m_refused = true;
    }

    const int m_fd;
    const HttpLimits& m_limits;
    SSL* m_ssl = nullptr;
    std::array<char, 4096> m_buffer{};
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    Clock::time_point m_readDeadline = Clock::now();
    std::optional<Clock::time_point> m_writeDeadline;
    std::size_t m_headBytes = 0;
    bool m_sawLineEnd = false;
    bool m_refused = false;
    bool m_cutOff = false;
};

// Several ranges are ignored: the answer comes whole, never once per range.
void answerWhole(httplib::Request& request) {
    if (request.ranges.size() > 1) {
        request.ranges.clear();
    }
}

// httplib's task queue, made to hand each accepted connection at once to the server's
// own line (process_and_close_socket) and to stop the server's workers when httplib
// stops listening.
class AdmitAtOnce final : public httplib::TaskQueue {
public:
    explicit AdmitAtOnce(std::function<void()> onShutdown) : m_onShutdown(std::move(onShutdown)) {}
    void enqueue(std::function<void()> fn) override { fn(); }
    void shutdown() override { m_onShutdown(); }

private:
    std::function<void()> m_onShutdown;
};

}  // namespace

GuardedServer::GuardedServer(const HttpLimits& limits, TlsContextSource tls, LineClock lineClock)
    : m_limits(limits),
      m_tls(std::move(tls)),
      m_lineClock(std::move(lineClock)),
      m_stopFd(makeEventFd()),
      m_line(limits.maxWaitingConnections, limits.maxConnectionsPerClient, limits.lineWait) {
    new_task_queue = [this] {
        startWorkers();
        return new AdmitAtOnce([this] { stopWorkers(); });
    };
    set_socket_options(exclusiveSocketOptions);
    // The requests served carry no body; the head limit covers everything read.
    set_payload_max_length(m_limits.maxRequestHeadBytes);
    set_logger([](const httplib::Request&, const httplib::Response& response) {
        // httplib's own refusal of a request it cannot parse: the routes answer theirs
        // with a body and log them themselves.
        if (response.status == 400 && response.body.empty()) {
            refusalLog().refused(t_client, "400 malformed request", "");
        }
    });
}

GuardedServer::~GuardedServer() {
    stopWorkers();
}

void GuardedServer::startWorkers() {
    const std::lock_guard lock(m_mutex);
    for (std::size_t i = m_workers.size(); i < m_limits.workerThreads; ++i) {
        m_workers.emplace_back([this] { work(); });
    }
}

void GuardedServer::stopWorkers() {
    std::vector<ConnectionLine::Waiting> waiting;
    std::vector<std::thread> workers;
    {
        const std::lock_guard lock(m_mutex);
        waiting = m_line.stop();
        workers = std::move(m_workers);
        m_workers.clear();
    }
    const std::uint64_t one = 1;
    // Fails only when the counter would overflow, and then it is readable anyway.
    [[maybe_unused]] const ssize_t written = ::write(m_stopFd.get(), &one, sizeof one);
    m_wake.notify_all();
    for (const ConnectionLine::Waiting& connection : waiting) {
        turnAway(connection.fd, connection.client, "The exporter is stopping");
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

void GuardedServer::work() {
    for (;;) {
        std::optional<ConnectionLine::Waiting> connection;
        std::vector<ConnectionLine::Waiting> expired;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_line.stopped() || m_line.waiting() > 0; });
            if (m_line.stopped()) {
                return;  // stop() has emptied the line
            }
            connection = m_line.next(m_lineClock(), expired);
        }
        for (const ConnectionLine::Waiting& late : expired) {
            turnAway(late.fd, late.client, "Waited too long for a free connection");
        }
        if (connection) {
            serve(connection->fd, connection->client);
        }
        const std::lock_guard lock(m_mutex);
        for (const ConnectionLine::Waiting& late : expired) {
            m_line.closed(late.client);
        }
        if (connection) {
            m_line.closed(connection->client);
        }
    }
}

void GuardedServer::turnAway(int fd, const std::string& client, const std::string& why) {
    refusalLog().refused(client, "503 service unavailable", why);
    const std::string answer = busyAnswer(why);
    discardPending(fd);
    // Best effort: a client that cannot take these bytes at once gets the close alone.
    [[maybe_unused]] const ssize_t sent =
        ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(fd, SHUT_WR);
    ::close(fd);  // nothing is left to flush that a failed close could lose
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
    int port = 0;
    const std::string client = socketAddress(sock, ::getpeername, port);
    const int flags = ::fcntl(sock, F_GETFL);
    if (flags < 0 || ::fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0) {
        ::close(sock);  // cannot happen on a socket just accepted; nothing to say to it
        return false;
    }
    std::vector<ConnectionLine::Waiting> expired;
    ConnectionLine::Admission admission;
    {
        const std::lock_guard lock(m_mutex);
        admission = m_line.admit(sock, client, m_lineClock(), expired);
    }
    if (admission == ConnectionLine::Admission::queued) {
        m_wake.notify_one();
    }
    for (const ConnectionLine::Waiting& late : expired) {
        turnAway(late.fd, late.client, "Waited too long for a free connection");
        const std::lock_guard lock(m_mutex);
        m_line.closed(late.client);
    }
    switch (admission) {
        case ConnectionLine::Admission::queued:
            return true;
        case ConnectionLine::Admission::clientOverLimit:
            turnAway(sock, client, "Too many connections from your address");
            break;
        case ConnectionLine::Admission::lineFull:
            turnAway(sock, client, "Too many connections");
            break;
        case ConnectionLine::Admission::stopping:
            turnAway(sock, client, "The exporter is stopping");
            break;
    }
    return false;
}

void GuardedServer::serve(int fd, const std::string& client) {
    t_client = client;
    const std::shared_ptr<SSL_CTX> tls = m_tls ? m_tls() : nullptr;
    {
        GuardedStream stream(fd, m_limits);
        std::string problem;
        if (tls != nullptr && !stream.handshake(tls.get(), problem)) {
            if (!problem.empty()) {
                refusalLog().refused(client, "TLS handshake failed", problem);
            }
        } else {
            for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
                if (!stream.awaitRequest(m_stopFd.get())) {
                    break;
                }
                stream.beginRequest();
                bool closed = false;
                const bool served = process_request(stream, left == 1, closed, answerWhole);
                if (stream.refused()) {
                    refusalLog().refused(client,
                                         stream.sawLineEnd() ? "431 request header fields too large"
                                                             : "414 URI too long",
                                         "");
                }
                if (!served || closed || stream.refused() || stream.cutOff()) {
                    break;
                }
            }
        }
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);  // nothing is left to flush that a failed close could lose
}

}  // namespace corvane::exporter
