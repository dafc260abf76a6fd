#include "exporter/basic_auth.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>

namespace corvane::exporter {
namespace {

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    return c == '/' ? 63 : -1;
}

// Standard base64 with its padding; nothing for anything else.
std::optional<std::string> decodeBase64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const int value =
                j >= 4 - static_cast<std::size_t>(padding) ? 0 : base64Value(text[i + j]);
            if (value < 0) {
                return std::nullopt;
            }
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        out += static_cast<char>(group >> 16);
        if (padding < 2) {
            out += static_cast<char>(group >> 8 & 0xFF);
        }
        if (padding < 1) {
            out += static_cast<char>(group & 0xFF);
        }
    }
    return out;
}

}  // namespace

std::optional<Credentials> parseBasicAuthorization(std::string_view header) {
    constexpr std::string_view kScheme = "Basic ";
    if (header.size() <= kScheme.size() ||
        strncasecmp(header.data(), kScheme.data(), kScheme.size()) != 0) {
        return std::nullopt;
    }
    header.remove_prefix(kScheme.size());
    while (!header.empty() && header.front() == ' ') {
        header.remove_prefix(1);
    }
    const auto decoded = decodeBase64(header);
    if (!decoded) {
        return std::nullopt;
    }
    const std::size_t colon = decoded->find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    return Credentials{decoded->substr(0, colon), decoded->substr(colon + 1)};
}

bool passwordMatches(const std::string& password, const std::string& hash) {
    // crypt_data is about 32 KiB: too much for the stack of an HTTP thread.
    auto data = std::make_unique<crypt_data>();
    const char* result = crypt_r(password.c_str(), hash.c_str(), data.get());
    // A failure gives null or a text starting with '*', never the hash itself.
    return result != nullptr && result[0] != '*' && std::strlen(result) == hash.size() &&
           CRYPTO_memcmp(result, hash.data(), hash.size()) == 0;
}

std::optional<int> bcryptCost(const std::string& hash) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (hash.size() < 7 || hash.compare(0, 2, "$2") != 0 || hash[3] != '$' || !digit(hash[4]) ||
        !digit(hash[5]) || hash[6] != '$') {
        return std::nullopt;
    }
    return (hash[4] - '0') * 10 + (hash[5] - '0');
}

std::string BasicAuth::unknownUserHash(const std::map<std::string, std::string>& users) {
    std::optional<int> highest;
    for (const auto& [name, hash] : users) {
        const auto cost = bcryptCost(hash);
        if (cost && (!highest || *cost > *highest)) {
            highest = cost;
        }
    }
    if (!highest) {
        return users.begin()->second;
    }
    const std::lock_guard lock(m_mutex);
    auto known = m_dummies.find(*highest);
    if (known == m_dummies.end()) {
        // A fixed salt: only the cost matters, and crypt's result never equals a setting.
        const std::array<char, 16> salt{};
        char setting[CRYPT_GENSALT_OUTPUT_SIZE];
        if (crypt_gensalt_rn("$2y$", static_cast<unsigned long>(*highest), salt.data(),
                             static_cast<int>(salt.size()), setting, sizeof setting) == nullptr) {
            return users.begin()->second;  // a cost crypt refuses: no user can log in either
        }
        known = m_dummies.emplace(*highest, setting).first;
    }
    return known->second;
}

bool BasicAuth::allows(const std::map<std::string, std::string>& users, std::string_view header) {
    const auto credentials = parseBasicAuthorization(header);
    // crypt reads the password up to its first NUL: "s3cret\0anything" would pass as "s3cret".
    if (!credentials || users.empty() || credentials->password.find('\0') != std::string::npos) {
        return false;
    }
    const auto user = users.find(credentials->user);
    if (user == users.end()) {
        // An unknown user costs as much as the dearest known one, so timing does not tell
        // which names exist.
        const std::string dummy = unknownUserHash(users);
        const std::lock_guard hashing(m_hashing);
        m_check(credentials->password, dummy);
        return false;
    }
    const std::string& hash = user->second;
    const std::string material = credentials->user + '\0' + credentials->password + '\0' + hash;
    Digest digest{};
    SHA256(reinterpret_cast<const unsigned char*>(material.data()), material.size(), digest.data());
    {
        const std::lock_guard lock(m_mutex);
        if (m_passed.count(digest) != 0) {
            return true;
        }
    }
    bool matches = false;
    {
        const std::lock_guard hashing(m_hashing);
        matches = m_check(credentials->password, hash);
    }
    if (!matches) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    if (m_passed.size() >= kRemembered) {
        m_passed.clear();
    }
    m_passed.insert(digest);
    return true;
}

}  // namespace corvane::exporter
