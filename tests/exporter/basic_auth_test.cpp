// What a stranger's credentials cost and tell: an unknown name costs the dearest known
// hash, a NUL byte does not cut a password short, and hash checks run one at a time.
#include <gtest/gtest.h>

#include <crypt.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <thread>
#include <vector>

#include "exporter/basic_auth.h"

namespace corvane::exporter {
namespace {

std::string bcrypt(const char* password, unsigned long cost) {
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    EXPECT_NE(crypt_gensalt_rn("$2y$", cost, nullptr, 0, salt, sizeof salt), nullptr);
    crypt_data data{};
    const char* hash = crypt_r(password, salt, &data);
    return hash != nullptr ? hash : "";
}

TEST(BasicAuth, StrangersAndNulBytes) {
    const std::map<std::string, std::string> users = {{"alice", bcrypt("s3cret", 4)},
                                                      {"bob", bcrypt("other", 6)}};
    std::vector<std::string> checked;  // the hashes each request was checked against
    BasicAuth auth([&](const std::string& password, const std::string& hash) {
        checked.push_back(hash);
        return passwordMatches(password, hash);
    });
    struct Row {
        const char* name;
        const char* header;
        bool allowed;
        int checkedCost;  // -1: no hash check at all
    };
    const Row rows[] = {
        {"a NUL byte and more", "Basic YWxpY2U6czNjcmV0AGFueXRoaW5n", false, -1},
        {"unknown user: the dearest cost", "Basic bWFsbG9yeTpzM2NyZXQ=", false, 6},
        {"wrong password", "Basic YWxpY2U6d3Jvbmc=", false, 4},
        {"right password", "Basic YWxpY2U6czNjcmV0", true, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        checked.clear();
        EXPECT_EQ(auth.allows(users, row.header), row.allowed);
        if (row.checkedCost < 0) {
            EXPECT_TRUE(checked.empty());
            continue;
        }
        ASSERT_EQ(checked.size(), 1u);
        EXPECT_EQ(bcryptCost(checked[0]), row.checkedCost) << checked[0];
    }
    // The stranger's hash is no user's: alice's password under a stranger's name fails.
    checked.clear();
    EXPECT_FALSE(auth.allows(users, "Basic bWFsbG9yeTpzM2NyZXQ="));
    ASSERT_EQ(checked.size(), 1u);
    EXPECT_NE(checked[0], users.at("alice"));
    EXPECT_NE(checked[0], users.at("bob"));
    // and crypt really runs bcrypt at that cost on it, rather than failing at once.
    crypt_data data{};
    const char* made = crypt_r("s3cret", checked[0].c_str(), &data);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(std::string(made).size(), users.at("bob").size());
    EXPECT_EQ(std::string(made).substr(0, 7), "$2y$06$");
    EXPECT_EQ(bcryptCost("$2b$12$abc"), 12);
    EXPECT_FALSE(bcryptCost("$1$salt$hash"));
}

TEST(BasicAuth, OneHashCheckAtATime) {
    const std::map<std::string, std::string> users = {{"alice", bcrypt("s3cret", 4)}};
    std::mutex mutex;
    std::condition_variable entered;
    int inside = 0, most = 0, calls = 0;
    // Each check waits a while for another to join it: checks in parallel would meet.
    BasicAuth auth([&](const std::string&, const std::string&) {
        std::unique_lock lock(mutex);
        ++calls;
        most = std::max(most, ++inside);
        entered.notify_all();
        entered.wait_for(lock, std::chrono::milliseconds(100), [&] { return inside > 1; });
        --inside;
        return false;
    });
    std::vector<std::thread> clients;
    for (const char* header : {"Basic YWxpY2U6d3Jvbmc=", "Basic bWFsbG9yeTpzM2NyZXQ=",
                               "Basic YWxpY2U6d3Jvbmc=", "Basic bWFsbG9yeTpzM2NyZXQ="}) {
        clients.emplace_back([&auth, &users, header] { EXPECT_FALSE(auth.allows(users, header)); });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(most, 1);
}

}  // namespace
}  // namespace corvane::exporter
