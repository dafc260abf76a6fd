// --web.config.file: the YAML file that Prometheus's own exporters take for TLS and basic
// authentication, with the same keys:
//
//   tls_server_config:
//     cert_file: server.crt      # relative names are taken from the file's own folder
//     key_file: server.key
//     min_version: TLS12         # optional: TLS10 .. TLS13 (default TLS12)
//     max_version: TLS13         # optional (default TLS13)
//     cipher_suites:             # optional, TLS 1.2 and lower, Go's names
//       - TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256
//     curve_preferences: [X25519, CurveP256]  # optional
//     prefer_server_cipher_suites: true       # optional (default true)
//   basic_auth_users:
//     prometheus: $2y$10$...     # bcrypt hashes
//
// A key this exporter does not act on (client certificates, headers) makes the file
// invalid rather than quietly weaker than the operator wrote it.
#pragma once

#include <openssl/ssl.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvane::exporter {

struct TlsSettings {
    std::string certFile;  // absolute, or as given when the file's folder is unknown
    std::string keyFile;
    int minVersion = TLS1_2_VERSION;  // OpenSSL protocol versions
    int maxVersion = TLS1_3_VERSION;
    std::vector<std::string> cipherSuites;  // OpenSSL's names; none: the forward-secret AEAD ones
    std::vector<std::string> curves;        // OpenSSL's names; none: OpenSSL's choice
    bool preferServerCipherSuites = true;
};

struct WebConfig {
    std::optional<TlsSettings> tls;            // plain HTTP without it
    std::map<std::string, std::string> users;  // name -> bcrypt hash; no login without any
};

// The configuration in `text`; `folder` resolves relative file names. Nothing, with
// `error` saying what and where, when the text is not a valid configuration.
std::optional<WebConfig> parseWebConfig(const std::string& text, const std::string& folder,
                                        std::string& error);

// Why `next` may not replace `running` without a restart: it would turn TLS or basic
// authentication off, so that a careless edit (an emptied file) opens the listener. Nothing
// when it may: users, passwords, certificates and TLS choices change while running.
std::optional<std::string> reloadRefusal(const WebConfig& running, const WebConfig& next);

}  // namespace corvane::exporter
