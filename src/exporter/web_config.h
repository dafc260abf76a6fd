// --web.config.file: the YAML file that Prometheus's own exporters take for TLS and basic
// authentication, with the same keys:
//
//   tls_server_config:
//     cert_file: server.crt      # relative names are taken from the file's own folder
//     key_file: server.key
//     min_version: TLS12         # optional: TLS10 .. TLS13 (default TLS12)
//   basic_auth_users:
//     prometheus: $2y$10$...     # bcrypt hashes
//
// A key this exporter does not act on (client certificates, cipher lists, headers) makes
// the file invalid rather than quietly weaker than the operator wrote it.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace corvane::exporter {

struct TlsSettings {
    std::string certFile;  // absolute, or as given when the file's folder is unknown
    std::string keyFile;
    int minVersion = 0;  // an OpenSSL protocol version (TLS1_2_VERSION ...)
};

struct WebConfig {
    std::optional<TlsSettings> tls;              // plain HTTP without it
    std::map<std::string, std::string> users;    // name -> bcrypt hash; no login without any
};

// The configuration in `text`; `folder` resolves relative file names. Nothing, with
// `error` saying what and where, when the text is not a valid configuration.
std::optional<WebConfig> parseWebConfig(const std::string& text, const std::string& folder,
                                        std::string& error);

}  // namespace corvane::exporter
