// The line of connections waiting for a worker: a client's share, the line's length and
// how long a connection may wait.
#include <gtest/gtest.h>

#include "exporter/connection_line.h"

namespace corvane::exporter {
namespace {

using A = ConnectionLine::Admission;
using std::chrono::milliseconds;

TEST(ConnectionLine, OneClientCannotTakeEveryPlace) {
    // Three waiting at most, two per client, five seconds in line at most.
    ConnectionLine line(3, 2, milliseconds(5000));
    const ConnectionLine::Clock::time_point t0{};
    std::vector<ConnectionLine::Waiting> expired;
    struct Row {
        int atMs;
        int fd;
        const char* client;
        A admission;
    };
    const Row rows[] = {
        {0, 10, "10.0.0.9", A::queued},          {0, 11, "10.0.0.9", A::queued},
        {0, 12, "10.0.0.9", A::clientOverLimit},  // its share is taken
        {0, 13, "10.0.0.7", A::queued},           // another client still gets in
        {0, 14, "10.0.0.8", A::lineFull},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fd);
        EXPECT_EQ(line.admit(row.fd, row.client, t0 + milliseconds(row.atMs), expired),
                  row.admission);
    }
    EXPECT_TRUE(expired.empty());
    // Served: it still counts for its client until closed.
    const auto first = line.next(t0 + milliseconds(100), expired);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->fd, 10);
    EXPECT_EQ(line.admit(15, "10.0.0.9", t0 + milliseconds(200), expired), A::clientOverLimit);
    line.closed("10.0.0.9");
    EXPECT_EQ(line.admit(15, "10.0.0.9", t0 + milliseconds(300), expired), A::queued);

    // Past five seconds in line, the waiting leave it for a 503, oldest first.
    EXPECT_EQ(line.admit(16, "10.0.0.8", t0 + milliseconds(5200), expired), A::queued);
    ASSERT_EQ(expired.size(), 2u);
    EXPECT_EQ(expired[0].fd, 11);
    EXPECT_EQ(expired[1].fd, 13);
    expired.clear();
    const auto next = line.next(t0 + milliseconds(5250), expired);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->fd, 15);
    EXPECT_TRUE(expired.empty());
    EXPECT_FALSE(line.next(t0 + milliseconds(10500), expired));
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_EQ(expired[0].fd, 16);

    // Stopping hands back what waits and admits nothing more.
    EXPECT_EQ(line.admit(17, "10.0.0.6", t0 + milliseconds(10600), expired), A::queued);
    const auto left = line.stop();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].fd, 17);
    EXPECT_EQ(line.admit(18, "10.0.0.5", t0 + milliseconds(10700), expired), A::stopping);
}

}  // namespace
}  // namespace corvane::exporter
