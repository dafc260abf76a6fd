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
    const Row rows[] = {
        {"empty file: plain, no login", "", nullptr, nullptr, 0, 0},
        {"comments only", "# nothing yet\n", nullptr, nullptr, 0, 0},
        {"TLS with relative names",
         "tls_server_config:\n  cert_file: server.crt\n  key_file: /keys/server.key\n",
         nullptr, "/etc/corvane/server.crt", TLS1_2_VERSION, 0},
        {"TLS 1.3 only and users",
         "tls_server_config:\n  cert_file: /c.crt\n  key_file: k.key\n  min_version: TLS13\n" +
             users,
         nullptr, "/c.crt", TLS1_3_VERSION, 1},
        {"users alone", users, nullptr, nullptr, 0, 1},
        {"empty sections", "tls_server_config:\nbasic_auth_users:\n", nullptr, nullptr, 0, 0},
        {"no client certificates, said outright",
         "tls_server_config:\n  cert_file: a\n  key_file: b\n  client_auth_type: NoClientCert\n",
         nullptr, "/etc/corvane/a", TLS1_2_VERSION, 0},
        {"key without certificate", "tls_server_config:\n  key_file: k.key\n", "both cert_file",
         nullptr, 0, 0},
        {"client certificates asked for",
         "tls_server_config:\n  cert_file: a\n  key_file: b\n  client_auth_type: "
         "RequireAndVerifyClientCert\n",
         "client certificates", nullptr, 0, 0},
        {"cipher list", "tls_server_config:\n  cert_file: a\n  key_file: b\n  cipher_suites: []\n",
         "unsupported key 'cipher_suites' in tls_server_config (line 4)", nullptr, 0, 0},
        {"unknown section", "http_server_config:\n  http2: false\n",
         "unsupported key 'http_server_config'", nullptr, 0, 0},
        {"unknown TLS version", "tls_server_config:\n  cert_file: a\n  key_file: b\n"
                                "  min_version: SSL3\n",
         "min_version 'SSL3'", nullptr, 0, 0},
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
        {"Basic cHJvbWV0aGV1czpzM2NyZXQ6d2l0aCBjb2xvbg==", true},  // remembered now
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
