// HTTP basic authentication against the bcrypt hashes of the web configuration, checked
// with the system's crypt. A bcrypt check takes tens of milliseconds by design; a scrape
// every few seconds with the same credentials would spend a core on it, so credentials
// that passed are remembered (as a SHA-256 digest, never in clear) until the user's hash
// changes. Checks run one at a time, so that a password guesser costs one core at most.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace corvane::exporter {

struct Credentials {
    std::string user;
    std::string password;
};

// The user and password of an "Authorization: Basic ..." value; nothing for any other
// scheme or a malformed value.
std::optional<Credentials> parseBasicAuthorization(std::string_view header);

// Whether `password` matches a crypt(3) hash ("$2y$..." for bcrypt).
bool passwordMatches(const std::string& password, const std::string& hash);

// The cost of a bcrypt hash ("$2y$10$..." gives 10); nothing for any other text.
std::optional<int> bcryptCost(const std::string& hash);

class BasicAuth {
public:
    using HashCheck = std::function<bool(const std::string& password, const std::string& hash)>;

    explicit BasicAuth(HashCheck check = passwordMatches) : m_check(std::move(check)) {}

    // Whether the Authorization header value names one of `users` with its password.
    bool allows(const std::map<std::string, std::string>& users, std::string_view header);

private:
    using Digest = std::array<unsigned char, 32>;
    static constexpr std::size_t kRemembered = 256;

    std::string unknownUserHash(const std::map<std::string, std::string>& users);

    const HashCheck m_check;
    std::mutex m_hashing;  // held for each check: one at a time
    std::mutex m_mutex;
    std::set<Digest> m_passed;
    std::map<int, std::string> m_dummies;  // bcrypt cost -> a hash of no password
};

}  // namespace corvane::exporter
