// HTTP basic authentication against the bcrypt hashes of the web configuration, checked
// with the system's crypt. A bcrypt check takes tens of milliseconds by design; a scrape
// every few seconds with the same credentials would spend a core on it, so credentials
// that passed are remembered (as a SHA-256 digest, never in clear) until the user's hash
// changes.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

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

class BasicAuth {
public:
    // Whether the Authorization header value names one of `users` with its password.
    bool allows(const std::map<std::string, std::string>& users, std::string_view header);

private:
    using Digest = std::array<unsigned char, 32>;
    static constexpr std::size_t kRemembered = 256;

    std::mutex m_mutex;
    std::set<Digest> m_passed;
};

}  // namespace corvane::exporter
