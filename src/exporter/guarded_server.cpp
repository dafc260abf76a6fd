#include "exporter/guarded_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace corvane::exporter {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Set on the accepting thread while it turns a connection away (see BoundedPool).
thread_local bool t_turningAway = false;

constexpr char kBusyAnswer[] =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 35\r\n"
    "Connection: close\r\n\r\nToo many connections; try again.\r\n";

// Waits until `fd` is ready for `events` or `deadline` has passed.
bool waitReady(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left, 1000 * 60)));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
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

    bool handshake(SSL_CTX* context) {
        m_ssl = SSL_new(context);
        if (m_ssl == nullptr || SSL_set_fd(m_ssl, m_fd) != 1) {
            return false;
        }
        const auto deadline = Clock::now() + m_limits.handshake;
        for (;;) {
            const int result = SSL_accept(m_ssl);
            if (result == 1) {
                return true;
            }
            if (!waitForTls(result, deadline)) {
                return false;
            }
        }
    }

    // Whether a request begins within the idle wait.
    bool awaitRequest() {
        if (is_readable()) {
            return true;
        }
        return waitReady(m_fd, POLLIN, Clock::now() + m_limits.idleWait);
    }

    void beginRequest() {
        m_readDeadline = Clock::now() + m_limits.requestRead;
        m_writeDeadline.reset();
        m_headBytes = 0;
        m_sawLineEnd = false;
    }

    bool refused() const { return m_refused; }
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
                    SSL_write(m_ssl, ptr + done, static_cast<int>(std::min<std::size_t>(
                                                     size - done, 1 << 20)));
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
        const std::string status = m_sawLineEnd ? "431 Request Header Fields Too Large"
                                                : "414 URI Too Long";
        const std::string answer = "HTTP/1.1 " + status +
                                   "\r\nContent-Type: text/plain\r\nContent-Length: " +
                                   std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                                   body;
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

// httplib's thread pool with a bounded line: a connection that finds every worker busy
// and the line full is handed back on the accepting thread, which turns it away.
class BoundedPool final : public httplib::TaskQueue {
public:
    BoundedPool(std::size_t threads, std::size_t maxWaiting) : m_maxWaiting(maxWaiting) {
        for (std::size_t i = 0; i < threads; ++i) {
            m_threads.emplace_back([this] { work(); });
        }
    }

    void enqueue(std::function<void()> fn) override {
        {
            const std::lock_guard lock(m_mutex);
            if (m_jobs.size() < m_maxWaiting) {
                m_jobs.push_back(std::move(fn));
                m_wake.notify_one();
                return;
            }
        }
        t_turningAway = true;
        fn();
        t_turningAway = false;
    }

    void shutdown() override {
        {
            const std::lock_guard lock(m_mutex);
            m_shutdown = true;
        }
        m_wake.notify_all();
        for (std::thread& thread : m_threads) {
            thread.join();
        }
    }

private:
    void work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_shutdown || !m_jobs.empty(); });
                if (m_jobs.empty()) {
                    return;
                }
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
    }

    const std::size_t m_maxWaiting;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_shutdown = false;
    std::vector<std::thread> m_threads;
};

}  // namespace

GuardedServer::GuardedServer(const HttpLimits& limits, TlsContextSource tls)
    : m_limits(limits), m_tls(std::move(tls)) {
    new_task_queue = [this] {
        return new BoundedPool(m_limits.workerThreads, m_limits.maxWaitingConnections);
    };
    // The requests served carry no body; the head limit covers everything read.
    set_payload_max_length(m_limits.maxRequestHeadBytes);
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
    const int flags = ::fcntl(sock, F_GETFL);
    if (t_turningAway || flags < 0 || ::fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0) {
        // Best effort: a client that cannot take these bytes at once gets the close alone.
        [[maybe_unused]] const ssize_t sent =
            ::send(sock, kBusyAnswer, sizeof kBusyAnswer - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(sock);
        return false;
    }
    const std::shared_ptr<SSL_CTX> tls = m_tls ? m_tls() : nullptr;
    {
        GuardedStream stream(sock, m_limits);
        if (tls == nullptr || stream.handshake(tls.get())) {
            for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
                if (!stream.awaitRequest()) {
                    break;
                }
                stream.beginRequest();
                bool closed = false;
                const bool served = process_request(stream, left == 1, closed, nullptr);
                if (!served || closed || stream.refused() || stream.cutOff()) {
                    break;
                }
            }
        }
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);  // nothing is left to flush that a failed close could lose
    return true;
}

}  // namespace corvane::exporter
