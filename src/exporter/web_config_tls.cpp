#include "exporter/web_config_tls.h"

#include <array>
#include <set>
#include <utility>

namespace corvane::exporter {
namespace {

using NamePair = std::pair<std::string_view, std::string_view>;

// Every suite Go's crypto/tls lists (CipherSuites and InsecureCipherSuites), with the
// older CHACHA20 names it still takes.
constexpr std::array<NamePair, 27> kCipherNames = {{
    {"TLS_RSA_WITH_RC4_128_SHA", "RC4-SHA"},
    {"TLS_RSA_WITH_3DES_EDE_CBC_SHA", "DES-CBC3-SHA"},
    {"TLS_RSA_WITH_AES_128_CBC_SHA", "AES128-SHA"},
    {"TLS_RSA_WITH_AES_256_CBC_SHA", "AES256-SHA"},
    {"TLS_RSA_WITH_AES_128_CBC_SHA256", "AES128-SHA256"},
    {"TLS_RSA_WITH_AES_128_GCM_SHA256", "AES128-GCM-SHA256"},
    {"TLS_RSA_WITH_AES_256_GCM_SHA384", "AES256-GCM-SHA384"},
    {"TLS_ECDHE_ECDSA_WITH_RC4_128_SHA", "ECDHE-ECDSA-RC4-SHA"},
    {"TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA", "ECDHE-ECDSA-AES128-SHA"},
    {"TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA", "ECDHE-ECDSA-AES256-SHA"},
    {"TLS_ECDHE_RSA_WITH_RC4_128_SHA", "ECDHE-RSA-RC4-SHA"},
    {"TLS_ECDHE_RSA_WITH_3DES_EDE_CBC_SHA", "ECDHE-RSA-DES-CBC3-SHA"},
    {"TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA", "ECDHE-RSA-AES128-SHA"},
    {"TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA", "ECDHE-RSA-AES256-SHA"},
    {"TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA256", "ECDHE-ECDSA-AES128-SHA256"},
    {"TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA256", "ECDHE-RSA-AES128-SHA256"},
    {"TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256", "ECDHE-RSA-AES128-GCM-SHA256"},
    {"TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256", "ECDHE-ECDSA-AES128-GCM-SHA256"},
    {"TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384", "ECDHE-RSA-AES256-GCM-SHA384"},
    {"TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384", "ECDHE-ECDSA-AES256-GCM-SHA384"},
    {"TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256", "ECDHE-RSA-CHACHA20-POLY1305"},
    {"TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256", "ECDHE-ECDSA-CHACHA20-POLY1305"},
    {"TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305", "ECDHE-RSA-CHACHA20-POLY1305"},
    {"TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305", "ECDHE-ECDSA-CHACHA20-POLY1305"},
    {"TLS_AES_128_GCM_SHA256", ""},
    {"TLS_AES_256_GCM_SHA384", ""},
    {"TLS_CHACHA20_POLY1305_SHA256", ""},
}};

constexpr std::array<NamePair, 4> kGroupNames = {{
    {"CurveP256", "P-256"},
    {"CurveP384", "P-384"},
    {"CurveP521", "P-521"},
    {"X25519", "X25519"},
}};

template <std::size_t N>
std::optional<std::string> lookUp(const std::array<NamePair, N>& table, std::string_view name) {
    for (const auto& [go, openSsl] : table) {
        if (go == name) {
            return std::string(openSsl);
        }
    }
    return std::nullopt;
}

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) {
        out += (out.empty() ? "" : ":") + name;
    }
    return out;
}

// The suites OpenSSL leaves out of a list without a word (unavailable in this build, or
// below its security level) are an error here: the operator asked for them.
bool setCiphers(SSL_CTX* context, const std::vector<std::string>& names, std::string& error) {
    const std::string list = names.empty() ? kDefaultTls12Ciphers : joined(names);
    if (SSL_CTX_set_cipher_list(context, list.c_str()) != 1) {
        error = "none of the cipher suites " + list + " is available";
        return false;
    }
    std::set<std::string> offered;
    const STACK_OF(SSL_CIPHER)* ciphers = SSL_CTX_get_ciphers(context);
    for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i) {
        offered.insert(SSL_CIPHER_get_name(sk_SSL_CIPHER_value(ciphers, i)));
    }
    for (const std::string& name : names) {
        if (offered.count(name) == 0) {
            error = "the cipher suite " + name + " is not available";
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<int> tlsVersionNamed(std::string_view name) {
    constexpr std::array<std::pair<std::string_view, int>, 4> kVersions = {{
        {"TLS10", TLS1_VERSION},
        {"TLS11", TLS1_1_VERSION},
        {"TLS12", TLS1_2_VERSION},
        {"TLS13", TLS1_3_VERSION},
    }};
    for (const auto& [text, version] : kVersions) {
        if (name == text) {
            return version;
        }
    }
    return std::nullopt;
}

std::optional<std::string> openSslCipherName(std::string_view goName) {
    return lookUp(kCipherNames, goName);
}

std::optional<std::string> openSslGroupName(std::string_view goName) {
    return lookUp(kGroupNames, goName);
}

bool applyTlsChoices(SSL_CTX* context, const TlsSettings& tls, std::string& error) {
    if (SSL_CTX_set_min_proto_version(context, tls.minVersion) != 1 ||
        SSL_CTX_set_max_proto_version(context, tls.maxVersion) != 1) {
        error = "cannot set the TLS versions";
        return false;
    }
    if (!setCiphers(context, tls.cipherSuites, error)) {
        return false;
    }
    if (!tls.curves.empty() && SSL_CTX_set1_groups_list(context, joined(tls.curves).c_str()) != 1) {
        error = "cannot use the curves " + joined(tls.curves);
        return false;
    }
    if (tls.preferServerCipherSuites) {
        SSL_CTX_set_options(context, SSL_OP_CIPHER_SERVER_PREFERENCE);
    } else {
        SSL_CTX_clear_options(context, SSL_OP_CIPHER_SERVER_PREFERENCE);
    }
    return true;
}

}  // namespace corvane::exporter
