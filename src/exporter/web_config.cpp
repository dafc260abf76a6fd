#include "exporter/web_config.h"

#include <yaml-cpp/yaml.h>

#include <set>
#include <string_view>

#include "exporter/basic_auth.h"
#include "exporter/web_config_tls.h"

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

int tlsVersion(const YAML::Node& node, const std::string& key) {
    const auto version = tlsVersionNamed(scalar(node, key));
    if (!version) {
        throw ConfigError{key + " '" + node.as<std::string>() +
                          "' is not one of TLS10, TLS11, TLS12, TLS13" + where(node)};
    }
    return *version;
}

// A list of Go's names, each turned into OpenSSL's by `translate`; an unknown one is an
// error, as it is for Prometheus's exporters.
std::vector<std::string> namedList(const YAML::Node& node, const std::string& key,
                                   std::optional<std::string> (*translate)(std::string_view)) {
    if (!node.IsSequence()) {
        throw ConfigError{key + " must be a list" + where(node)};
    }
    std::vector<std::string> names;
    for (const auto& item : node) {
        const std::string name = scalar(item, "an entry of " + key);
        const auto known = translate(name);
        if (!known) {
            throw ConfigError{"unknown name '" + name + "' in " + key + where(item)};
        }
        if (!known->empty()) {  // a TLS 1.3 suite: always on, as with Go
            names.push_back(*known);
        }
    }
    return names;
}

void readTlsChoices(const YAML::Node& node, TlsSettings& tls) {
    if (node["min_version"]) {
        tls.minVersion = tlsVersion(node["min_version"], "min_version");
    }
    if (node["max_version"]) {
        tls.maxVersion = tlsVersion(node["max_version"], "max_version");
    }
    if (tls.maxVersion < tls.minVersion) {
        throw ConfigError{"max_version is below min_version" + where(node)};
    }
    if (node["cipher_suites"] && !node["cipher_suites"].IsNull()) {
        tls.cipherSuites = namedList(node["cipher_suites"], "cipher_suites", openSslCipherName);
    }
    if (node["curve_preferences"] && !node["curve_preferences"].IsNull()) {
        tls.curves = namedList(node["curve_preferences"], "curve_preferences", openSslGroupName);
    }
    if (const YAML::Node prefer = node["prefer_server_cipher_suites"]) {
        if (!YAML::convert<bool>::decode(prefer, tls.preferServerCipherSuites)) {
            throw ConfigError{"prefer_server_cipher_suites must be true or false" + where(prefer)};
        }
    }
}

TlsSettings tlsSettings(const YAML::Node& node, const std::string& folder) {
    requireMap(node, "tls_server_config");
    requireKnownKeys(node, "tls_server_config",
                     {"cert_file", "key_file", "min_version", "max_version", "cipher_suites",
                      "curve_preferences", "prefer_server_cipher_suites", "client_auth_type"});
    TlsSettings tls;
    if (node["client_auth_type"] &&
        scalar(node["client_auth_type"], "client_auth_type") != "NoClientCert") {
        throw ConfigError{
            "client certificates are not supported: client_auth_type may only be "
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
    readTlsChoices(node, tls);
    return tls;
}

// "$2a$", "$2b$" or "$2y$", a two-digit cost crypt takes (4 to 31) and 53 characters of
// salt and hash.
bool isBcryptHash(const std::string& hash) {
    constexpr std::size_t kBcryptLength = 60;
    constexpr int kLeastCost = 4, kMostCost = 31;
    const auto cost = bcryptCost(hash);
    return hash.size() == kBcryptLength && (hash[2] == 'a' || hash[2] == 'b' || hash[2] == 'y') &&
           cost && *cost >= kLeastCost && *cost <= kMostCost;
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

std::optional<std::string> reloadRefusal(const WebConfig& running, const WebConfig& next) {
    if (running.tls && !next.tls) {
        return "it would turn TLS off";
    }
    if (!running.users.empty() && next.users.empty()) {
        return "it would turn basic authentication off";
    }
    return std::nullopt;
}

}  // namespace corvane::exporter
