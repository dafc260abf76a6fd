// The exporter's HTTP server on loopback, its line of waiting connections on a scripted
// clock: one worker held by a request, a client's share and the line's length turned
// away at once, the wait in line ended by the clock rather than by sleeping, each 503
// with the length of its own body, and a stop that turns away what waits while the
// request being served is still answered.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "exporter/guarded_server.h"
#include "exporter/loopback_client.h"

namespace corvane::exporter {
namespace {

using std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

using test::busyAnswer;
using test::connectFrom;

// What arrives on `fd` until the server closes it, at most 5 s between reads.
std::string readToEnd(int fd) {
    return test::readToEnd(fd, 5000);
}

// One worker, two connections waiting at most, two per client, five seconds in line; a
// clock the test moves; /hold answers only once the test lets it.
class GuardedServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        HttpLimits limits;
        limits.workerThreads = 1;
        limits.maxWaitingConnections = 2;
        limits.maxConnectionsPerClient = 2;
        limits.lineWait = milliseconds(5000);
        m_server =
            std::make_unique<GuardedServer>(limits, nullptr, [this] { return m_now.load(); });
        m_server->Get("/hold", [this](const httplib::Request&, httplib::Response& response) {
            std::unique_lock lock(m_mutex);
            m_held = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_released; });
            response.set_content("held", "text/plain");
        });
        m_port = m_server->bind_to_any_port("127.0.0.1");
        ASSERT_GT(m_port, 0);
        m_listening = std::thread([this] { m_server->listen_after_bind(); });
    }
    void TearDown() override {
        release();
        m_server->stop();
        if (m_listening.joinable()) {
            m_listening.join();
        }
    }

    // Sends a request for /hold on a new connection and waits until the worker serves it.
    int holdTheWorker() {
        const int fd = connectFrom("127.0.0.1", m_port);
        const std::string request = "GET /hold HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
        EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(request.size()));
        std::unique_lock lock(m_mutex);
        EXPECT_TRUE(m_changed.wait_for(lock, std::chrono::seconds(5), [this] { return m_held; }));
        return fd;
    }
    void release() {
        const std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

    std::atomic<TimePoint> m_now{TimePoint{}};
    std::unique_ptr<GuardedServer> m_server;
    int m_port = 0;
    std::thread m_listening;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    bool m_released = false;
};

TEST_F(GuardedServerTest, LineSharesDeadlineAndStop) {
    const int served = holdTheWorker();
    struct Row {
        const char* source;
        const char* turnedAway;  // the 503's reason, at once; nullptr: it waits in line
    };
    // Every row's connection is taken in order, so a 503 read shows those before it are in.
    const Row rows[] = {
        {"127.0.0.1", nullptr},  // the client's second connection
        {"127.0.0.1", "Too many connections from your address"},
        {"127.0.0.2", nullptr},  // another client: the line's second place
        {"127.0.0.3", "Too many connections"},
    };
    std::vector<int> waiting;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.source);
        const int fd = connectFrom(row.source, m_port);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        if (row.turnedAway != nullptr) {
            EXPECT_TRUE(busyAnswer(readToEnd(fd), row.turnedAway));
            ::close(fd);
        } else {
            waiting.push_back(fd);
        }
    }

    // Just past five seconds in line, the next arrival sends those waiting away, and
    // takes a place itself.
    m_now = m_now.load() + milliseconds(5001);
    const int late = connectFrom("127.0.0.3", m_port);
    ASSERT_GE(late, 0);
    for (const int fd : waiting) {
        EXPECT_TRUE(busyAnswer(readToEnd(fd), "Waited too long for a free connection"));
        ::close(fd);
    }

    // Stopping: what waits is turned away at once; the request being served is answered.
    m_server->stop();
    EXPECT_TRUE(busyAnswer(readToEnd(late), "The exporter is stopping"));
    ::close(late);
    release();
    const std::string answer = readToEnd(served);
    ::close(served);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 ", 0), 0u) << answer;
    EXPECT_NE(answer.find("\r\n\r\nheld"), std::string::npos) << answer;
    m_listening.join();
}

}  // namespace
}  // namespace corvane::exporter
