// The web configuration file as Prometheus's exporters write it, and basic authentication
// against bcrypt hashes made here with the system's crypt.
#include <gtest/gtest.h>

#include <crypt.h>
#include <openssl/ssl.h>

#include "exporter/basic_auth.h"
#include "exporter/web_config.h"

namespace corvane::exporter {
namespace {

constexpr char kHash[] = "$2y$10$X1eQ0yE2v0ODsNn5ZXhqMOGbTm6GlpENKnvCqzYh3/w.3bUB9PSqe";

TEST(WebConfig, ParsedAsTheExportersWriteIt) {
    struct Row {
        const char* name;
        std::string yaml;
        const char* error;  // part of the error; nullptr when valid
        const char* cert;   // when TLS
        int minVersion;
        std::size_t users;
    };
    const std::string users = std::string("basic_auth_users:\n  prometheus: ") + kHash + "\n";
    const std::string tls = "tls_server_config:\n  cert_file: a\n  key_file: b\n";
    const Row rows[] = {
        {"empty file: plain, no login", "", nullptr, nullptr, 0, 0},
        {"comments only", "# nothing yet\n", nullptr, nullptr, 0, 0},
        {"TLS with relative names",
         "tls_server_config:\n  cert_file: server.crt\n  key_file: /keys/server.key\n", nullptr,
         "/etc/corvane/server.crt", TLS1_2_VERSION, 0},
        {"TLS 1.3 only and users",
         "tls_server_config:\n  cert_file: /c.crt\n  key_file: k.key\n  min_version: TLS13\n" +
             users,
         nullptr, "/c.crt", TLS1_3_VERSION, 1},
        {"users alone", users, nullptr, nullptr, 0, 1},
        {"empty sections", "tls_server_config:\nbasic_auth_users:\n", nullptr, nullptr, 0, 0},
        {"no client certificates, said outright", tls + "  client_auth_type: NoClientCert\n",
         nullptr, "/etc/corvane/a", TLS1_2_VERSION, 0},
        {"key without certificate", "tls_server_config:\n  key_file: k.key\n", "both cert_file",
         nullptr, 0, 0},
        {"client certificates asked for", tls + "  client_auth_type: RequireAndVerifyClientCert\n",
         "client certificates", nullptr, 0, 0},
        {"an empty cipher list: the defaults", tls + "  cipher_suites: []\n", nullptr,
         "/etc/corvane/a", TLS1_2_VERSION, 0},
        {"a client CA", tls + "  client_ca_file: c\n",
         "unsupported key 'client_ca_file' in tls_server_config (line 4)", nullptr, 0, 0},
        {"unknown cipher suite",
         tls + "  cipher_suites:\n"
               "    - TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256\n    - ECDHE-RSA-AES128-GCM-SHA256\n",
         "unknown name 'ECDHE-RSA-AES128-GCM-SHA256' in cipher_suites (line 6)", nullptr, 0, 0},
        {"unknown curve", tls + "  curve_preferences: [P-256]\n",
         "unknown name 'P-256' in curve_preferences", nullptr, 0, 0},
        {"a cipher list that is not a list", tls + "  cipher_suites: TLS_AES_128_GCM_SHA256\n",
         "cipher_suites must be a list", nullptr, 0, 0},
        {"versions the wrong way round", tls + "  min_version: TLS13\n  max_version: TLS12\n",
         "max_version is below min_version", nullptr, 0, 0},
        {"preference not a boolean", tls + "  prefer_server_cipher_suites: maybe\n",
         "prefer_server_cipher_suites must be true or false", nullptr, 0, 0},
        {"a bcrypt cost crypt refuses",
         "basic_auth_users:\n  alice: $2y$99$" + std::string(53, 'a') + "\n", "not a bcrypt hash",
         nullptr, 0, 0},
        {"unknown section", "http_server_config:\n  http2: false\n",
         "unsupported key 'http_server_config'", nullptr, 0, 0},
        {"unknown TLS version", tls + "  min_version: SSL3\n", "min_version 'SSL3'", nullptr, 0, 0},
        {"a password in clear", "basic_auth_users:\n  alice: secret\n", "not a bcrypt hash",
         nullptr, 0, 0},
        {"a user list that is a list", "basic_auth_users:\n  - alice\n", "must be a mapping",
         nullptr, 0, 0},
        {"not YAML", "tls_server_config: [\n", "", nullptr, 0, 0},
        {"a list at the top", "- a\n- b\n", "must be a mapping", nullptr, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string error;
        const auto config = parseWebConfig(row.yaml, "/etc/corvane", error);
        ASSERT_EQ(config.has_value(), row.error == nullptr) << error;
        if (!config) {
            EXPECT_NE(error.find(row.error), std::string::npos) << error;
            EXPECT_FALSE(error.empty());
            continue;
        }
        ASSERT_EQ(config->tls.has_value(), row.cert != nullptr);
        if (config->tls) {
            EXPECT_EQ(config->tls->certFile, row.cert);
            EXPECT_EQ(config->tls->minVersion, row.minVersion);
        }
        EXPECT_EQ(config->users.size(), row.users);
    }
}

// Go's names, as Prometheus's exporters take them, become OpenSSL's.
TEST(WebConfig, TlsChoicesUnderGoNames) {
    const std::string yaml =
        "tls_server_config:\n  cert_file: a\n  key_file: b\n  min_version: TLS12\n"
        "  max_version: TLS12\n  cipher_suites:\n    - TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384\n"
        "    - TLS_AES_128_GCM_SHA256\n    - TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256\n"
        "    - TLS_RSA_WITH_AES_128_GCM_SHA256\n"
        "  curve_preferences: [X25519, CurveP256, CurveP384, CurveP521]\n"
        "  prefer_server_cipher_suites: false\n";
    std::string error;
    const auto config = parseWebConfig(yaml, "/etc/corvane", error);
    ASSERT_TRUE(config && config->tls) << error;
    EXPECT_EQ(config->tls->maxVersion, TLS1_2_VERSION);
    EXPECT_EQ(config->tls->cipherSuites,
              (std::vector<std::string>{"ECDHE-ECDSA-AES256-GCM-SHA384",
                                        "ECDHE-RSA-CHACHA20-POLY1305", "AES128-GCM-SHA256"}))
        << "a TLS 1.3 suite is taken and left to OpenSSL, as Go leaves it";
    EXPECT_EQ(config->tls->curves, (std::vector<std::string>{"X25519", "P-256", "P-384", "P-521"}));
    EXPECT_FALSE(config->tls->preferServerCipherSuites);

    const auto defaults = parseWebConfig("tls_server_config:\n  cert_file: a\n  key_file: b\n",
                                         "/etc/corvane", error);
    ASSERT_TRUE(defaults && defaults->tls) << error;
    EXPECT_EQ(defaults->tls->maxVersion, TLS1_3_VERSION);
    EXPECT_TRUE(defaults->tls->cipherSuites.empty());
    EXPECT_TRUE(defaults->tls->preferServerCipherSuites);
}

// What a reload may change while the exporter runs, and what takes a restart.
TEST(WebConfig, ReloadNeverTurnsProtectionOff) {
    const std::string tls = "tls_server_config:\n  cert_file: a\n  key_file: b\n";
    const std::string alice = std::string("basic_auth_users:\n  alice: ") + kHash + "\n";
    const std::string bob = std::string("basic_auth_users:\n  bob: ") + kHash + "\n";
    struct Row {
        std::string running;
        std::string next;
        const char* refusal;  // part of it; nullptr when allowed
    };
    const Row rows[] = {
        {tls + alice, "", "TLS off"},
        {tls + alice, "# emptied\n", "TLS off"},
        {tls + alice, alice, "TLS off"},
        {tls + alice, tls + "basic_auth_users:\n", "basic authentication off"},
        {alice, "basic_auth_users:\n", "basic authentication off"},
        {alice, "", "basic authentication off"},
        {tls + alice, tls + bob, nullptr},
        {tls + alice, tls + "  min_version: TLS13\n" + alice, nullptr},
        {alice, tls + alice, nullptr},
        {"", tls, nullptr},
        {"", alice, nullptr},
        {"", "", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.running + " -> " + row.next);
        std::string error;
        const auto running = parseWebConfig(row.running, "/etc/corvane", error);
        const auto next = parseWebConfig(row.next, "/etc/corvane", error);
        ASSERT_TRUE(running && next) << error;
        const auto refusal = reloadRefusal(*running, *next);
        ASSERT_EQ(refusal.has_value(), row.refusal != nullptr);
        if (refusal) {
            EXPECT_NE(refusal->find(row.refusal), std::string::npos) << *refusal;
        }
    }
}

TEST(WebConfig, BasicAuthentication) {
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    ASSERT_NE(crypt_gensalt_rn("$2b$", 4, nullptr, 0, salt, sizeof salt), nullptr);
    crypt_data data{};
    const char* made = crypt_r("s3cret:with colon", salt, &data);
    ASSERT_NE(made, nullptr);
    const std::string hash = made;
    ASSERT_EQ(hash.rfind("$2b$04$", 0), 0u) << hash;
    const std::map<std::string, std::string> users = {{"prometheus", hash}};

    // base64 of "prometheus:s3cret:with colon" and variations.
    struct Row {
        const char* header;
        bool allowed;
    };
    const Row rows[] = {
        {"Basic cHJvbWV0aGV1czpzM2NyZXQ6d2l0aCBjb2xvbg==", true},
        {"basic cHJvbWV0aGV1czpzM2NyZXQ6d2l0aCBjb2xvbg==", true},
        {"Basic cHJvbWV0aGV1czpzM2NyZXQ6d2l0aCBjb2xvbg==", true},   // remembered now
        {"Basic cHJvbWV0aGV1czpzM2NyZXQ=", false},                  // prometheus:s3cret
        {"Basic YWxpY2U6czNjcmV0OndpdGggY29sb24=", false},          // alice:...
        {"Basic cHJvbWV0aGV1cw==", false},                          // no colon
        {"Basic cHJvbWV0aGV1czpzM2NyZXQ6d2l0aCBjb2xvbg", false},    // padding cut
        {"Basic cHJvbWV0aGV1c*pzM2NyZXQ6d2l0aCBjb2xvbg==", false},  // not base64
        {"Bearer cHJvbWV0aGV1czpzM2NyZXQ6d2l0aCBjb2xvbg==", false},
        {"", false},
    };
    BasicAuth auth;
    for (const Row& row : rows) {
        EXPECT_EQ(auth.allows(users, row.header), row.allowed) << row.header;
    }
    EXPECT_FALSE(auth.allows({}, rows[0].header)) << "no users: nobody logs in";
    // A changed hash forgets what passed under the old one.
    EXPECT_FALSE(auth.allows({{"prometheus", kHash}}, rows[0].header));
    EXPECT_TRUE(passwordMatches("s3cret:with colon", hash));
    EXPECT_FALSE(passwordMatches("s3cret:with colon", "not a hash"));
}

}  // namespace
}  // namespace corvane::exporter
