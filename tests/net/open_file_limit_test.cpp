#include "net/open_file_limit.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

namespace corvane {
namespace {

rlimit currentLimit() {
    rlimit limit{};
    EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    return limit;
}

// Raising never lowers the limit, stops at the hard limit, and what it reports is what
// the kernel then enforces.
TEST(OpenFileLimit, RaisesTheSoftLimitUpToTheHardOne) {
    const rlimit before = currentLimit();
    const rlim_t hard = before.rlim_max == RLIM_INFINITY ? before.rlim_cur + 64 : before.rlim_max;
    struct Row {
        std::uint64_t wanted;
        rlim_t expected;
    };
    const Row rows[] = {
        {1, before.rlim_cur},                            // below the soft limit: unchanged
        {hard + 1000, std::max(before.rlim_cur, hard)},  // past the hard limit: the hard one
    };
    for (const Row& row : rows) {
        std::string error;
        const auto granted = raiseOpenFileLimit(row.wanted, error);
        ASSERT_TRUE(granted) << error;
        if (before.rlim_max != RLIM_INFINITY) {
            EXPECT_EQ(*granted, row.expected) << "wanted " << row.wanted;
        }
        EXPECT_EQ(currentLimit().rlim_cur, *granted);
    }
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &before), 0);
}

}  // namespace
}  // namespace corvane
