// The TLS choices of the web configuration under the names Prometheus's exporters take
// (Go's: TLS12, TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256, CurveP256), turned into OpenSSL's,
// and applied to a server context. Without a choice, TLS 1.2 and 1.3 with forward-secret
// AEAD suites only: no RSA key exchange, no CBC.
#pragma once

#include <openssl/ssl.h>

#include <optional>
#include <string>
#include <string_view>

#include "exporter/web_config.h"

namespace corvane::exporter {

// TLS 1.2's suites when the file names none, best first.
inline constexpr char kDefaultTls12Ciphers[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

// The OpenSSL protocol version of "TLS10" .. "TLS13".
std::optional<int> tlsVersionNamed(std::string_view name);

// OpenSSL's name of a cipher suite Go names; "" for a TLS 1.3 suite (which Go, and so the
// web configuration, does not let one choose); nothing for a name Go does not know.
std::optional<std::string> openSslCipherName(std::string_view goName);

// OpenSSL's name of a curve Go names (CurveP256, CurveP384, CurveP521, X25519).
std::optional<std::string> openSslGroupName(std::string_view goName);

// Versions, suites, curves and the preference of `tls` on `context`; false, with `error`,
// when OpenSSL refuses one or a named suite is not available here.
bool applyTlsChoices(SSL_CTX* context, const TlsSettings& tls, std::string& error);

}  // namespace corvane::exporter
