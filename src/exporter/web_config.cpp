#include "exporter/web_config.h"

#include <openssl/ssl.h>
#include <yaml-cpp/yaml.h>

#include <array>
#include <set>
#include <utility>

namespace corvane::exporter {
namespace {

struct ConfigError {
    std::string what;
};

std::string where(const YAML::Node& node) {
    const YAML::Mark mark = node.Mark();
    return mark.line >= 0 ? " (line " + std::to_string(mark.line + 1) + ")" : "";
}

void requireMap(const YAML::Node& node, const std::string& name) {
    if (!node.IsMap()) {
        throw ConfigError{name + " must be a mapping of keys to values" + where(node)};
    }
}

void requireKnownKeys(const YAML::Node& node, const std::string& name,
                      const std::set<std::string>& known) {
    for (const auto& entry : node) {
        const std::string key = entry.first.as<std::string>();
        if (known.count(key) == 0) {
            throw ConfigError{"unsupported key '" + key + "'" +
                              (name.empty() ? "" : " in " + name) + where(entry.first)};
        }
    }
}

std::string scalar(const YAML::Node& node, const std::string& name) {
    if (!node.IsScalar()) {
        throw ConfigError{name + " must be a single value" + where(node)};
    }
    return node.as<std::string>();
}

std::string resolve(const std::string& file, const std::string& folder) {
    return file.empty() || file.front() == '/' || folder.empty() ? file : folder + "/" + file;
}

int tlsVersion(const std::string& name, const YAML::Node& node) {
    constexpr std::array<std::pair<const char*, int>, 4> kVersions = {{
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
    throw ConfigError{"min_version '" + name + "' is not one of TLS10, TLS11, TLS12, TLS13" +
                      where(node)};
}

TlsSettings tlsSettings(const YAML::Node& node, const std::string& folder) {
    requireMap(node, "tls_server_config");
    requireKnownKeys(node, "tls_server_config",
                     {"cert_file", "key_file", "min_version", "client_auth_type"});
    TlsSettings tls;
    tls.minVersion = TLS1_2_VERSION;
    if (node["client_auth_type"] &&
        scalar(node["client_auth_type"], "client_auth_type") != "NoClientCert") {
        throw ConfigError{"client certificates are not supported: client_auth_type may only be "
                          "NoClientCert" +
                          where(node["client_auth_type"])};
    }
    if (!node["cert_file"] || !node["key_file"]) {
        throw ConfigError{"tls_server_config needs both cert_file and key_file" + where(node)};
    }
    tls.certFile = resolve(scalar(node["cert_file"], "cert_file"), folder);
    tls.keyFile = resolve(scalar(node["key_file"], "key_file"), folder);
    if (tls.certFile.empty() || tls.keyFile.empty()) {
        throw ConfigError{"cert_file and key_file must name files" + where(node)};
    }
    if (node["min_version"]) {
        tls.minVersion = tlsVersion(scalar(node["min_version"], "min_version"), node["min_version"]);
    }
    return tls;
}

// "$2a$", "$2b$" or "$2y$", a two-digit cost and 53 characters of salt and hash.
bool isBcryptHash(const std::string& hash) {
    constexpr std::size_t kBcryptLength = 60;
    return hash.size() == kBcryptLength && hash[0] == '$' && hash[1] == '2' &&
           (hash[2] == 'a' || hash[2] == 'b' || hash[2] == 'y') && hash[3] == '$' &&
           hash[6] == '$';
}

std::map<std::string, std::string> users(const YAML::Node& node) {
    requireMap(node, "basic_auth_users");
    std::map<std::string, std::string> result;
    for (const auto& entry : node) {
        const std::string name = scalar(entry.first, "a user name");
        const std::string hash = scalar(entry.second, "the password hash of " + name);
        if (name.empty() || name.find(':') != std::string::npos) {
            throw ConfigError{"user name '" + name + "' is empty or holds ':'" +
                              where(entry.first)};
        }
        if (!isBcryptHash(hash)) {
            throw ConfigError{"the password of " + name + " is not a bcrypt hash ($2y$...)" +
                              where(entry.second)};
        }
        result[name] = hash;
    }
    return result;
}

}  // namespace

std::optional<WebConfig> parseWebConfig(const std::string& text, const std::string& folder,
                                        std::string& error) {
    try {
        const YAML::Node root = YAML::Load(text);
        WebConfig config;
        if (root.IsNull()) {  // an empty file: plain HTTP, no login
            return config;
        }
        requireMap(root, "the file");
        requireKnownKeys(root, "", {"tls_server_config", "basic_auth_users"});
        if (root["tls_server_config"] && !root["tls_server_config"].IsNull()) {
            config.tls = tlsSettings(root["tls_server_config"], folder);
        }
        if (root["basic_auth_users"] && !root["basic_auth_users"].IsNull()) {
            config.users = users(root["basic_auth_users"]);
        }
        return config;
    } catch (const ConfigError& e) {
        error = e.what;
    } catch (const YAML::Exception& e) {
        error = e.what();
    }
    return std::nullopt;
}

}  // namespace corvane::exporter
