// The web configuration changed under a running exporter: what a reload takes and what it
// refuses (TLS or authentication turned off, unknown names), and the TLS context it makes:
// forward-secret AEAD suites only unless the file names others.
#include <gtest/gtest.h>

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "exporter/web_config_store.h"
#include "exporter/web_config_tls.h"

namespace corvane::exporter {
namespace {

namespace fs = std::filesystem;

constexpr char kHash[] = "$2y$10$X1eQ0yE2v0ODsNn5ZXhqMOGbTm6GlpENKnvCqzYh3/w.3bUB9PSqe";

// A self-signed P-256 certificate and its key, written as PEM to `folder`.
bool writeTestCertificate(const fs::path& folder) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    if (key == nullptr || cert == nullptr) {
        return false;
    }
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        return false;
    }
    FILE* certFile = std::fopen((folder / "server.crt").c_str(), "w");
    FILE* keyFile = std::fopen((folder / "server.key").c_str(), "w");
    const bool written =
        certFile != nullptr && keyFile != nullptr && PEM_write_X509(certFile, cert.get()) == 1 &&
        PEM_write_PrivateKey(keyFile, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    for (FILE* file : {certFile, keyFile}) {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    return written;
}

class WebConfigReload : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/web-config-reload-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        ASSERT_TRUE(writeTestCertificate(m_folder));
    }
    void TearDown() override { fs::remove_all(m_folder); }

    // Through a new file, as editors that replace files do: a new inode each time.
    void write(const std::string& text) {
        std::ofstream(m_folder / "web.new") << text;
        fs::rename(m_folder / "web.new", path());
    }
    fs::path path() const { return m_folder / "web.yml"; }

    fs::path m_folder;
};

const std::string kTls = "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n";

std::string usersNamed(const std::string& name) {
    return "basic_auth_users:\n  " + name + ": " + kHash + "\n";
}

TEST_F(WebConfigReload, TakesChangesButNeverTurnsProtectionOff) {
    write(kTls + usersNamed("alice"));
    WebConfigStore store(path().string());
    std::string error;
    ASSERT_TRUE(store.load(error)) << error;
    struct Row {
        const char* name;
        std::string text;
        bool taken;
        const char* user;  // the one user in force after it
    };
    const Row rows[] = {
        {"emptied", "", false, "alice"},
        {"comments only", "# to be written\n", false, "alice"},
        {"users without TLS", usersNamed("alice"), false, "alice"},
        {"an empty user list", kTls + "basic_auth_users:\n", false, "alice"},
        {"another user", kTls + usersNamed("bob"), true, "bob"},
        {"an unknown suite",
         kTls + "  cipher_suites: [TLS_RSA_WITH_AES_512_SHA]\n" + usersNamed("carol"), false,
         "bob"},
        {"an unknown curve", kTls + "  curve_preferences: [CurveP128]\n" + usersNamed("carol"),
         false, "bob"},
        {"a suite this OpenSSL lacks",
         kTls + "  cipher_suites: [TLS_RSA_WITH_RC4_128_SHA]\n" + usersNamed("carol"), false,
         "bob"},
        {"a suite and curve chosen",
         kTls +
             "  cipher_suites: [TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384]\n"
             "  curve_preferences: [CurveP384, CurveP256]\n" +
             usersNamed("carol"),
         true, "carol"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        write(row.text);
        const auto active = store.current();
        EXPECT_EQ(store.lastReloadSucceeded(), row.taken);
        EXPECT_NE(active->tls, nullptr) << "a TLS listener never turns plain";
        ASSERT_EQ(active->config.users.size(), 1u);
        EXPECT_EQ(active->config.users.begin()->first, row.user);
        EXPECT_EQ(store.current(), active) << "looked at again only once the file changes";
    }
}

TEST_F(WebConfigReload, PlainMayTurnToTls) {
    write("");
    WebConfigStore store(path().string());
    std::string error;
    ASSERT_TRUE(store.load(error)) << error;
    EXPECT_EQ(store.current()->tls, nullptr);
    write(kTls + usersNamed("alice"));
    EXPECT_NE(store.current()->tls, nullptr);
    EXPECT_TRUE(store.lastReloadSucceeded());
}

TEST_F(WebConfigReload, UnknownNamesStopTheStart) {
    write(kTls + "  curve_preferences: [X448]\n");
    WebConfigStore store(path().string());
    std::string error;
    EXPECT_FALSE(store.load(error));
    EXPECT_NE(error.find("unknown name 'X448' in curve_preferences"), std::string::npos) << error;
}

// TLS 1.2 suites on offer: without a choice only ECDHE with GCM or ChaCha20-Poly1305.
TEST_F(WebConfigReload, ForwardSecretAeadSuitesByDefault) {
    TlsSettings tls;
    tls.certFile = (m_folder / "server.crt").string();
    tls.keyFile = (m_folder / "server.key").string();
    std::string error;
    const auto context = makeTlsContext(tls, error);
    ASSERT_NE(context, nullptr) << error;
    std::set<std::string> offered;
    const STACK_OF(SSL_CIPHER)* ciphers = SSL_CTX_get_ciphers(context.get());
    for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i) {
        const std::string name = SSL_CIPHER_get_name(sk_SSL_CIPHER_value(ciphers, i));
        if (name.rfind("TLS_", 0) != 0) {  // TLS 1.3's suites, all AEAD and forward-secret
            offered.insert(name);
        }
    }
    EXPECT_FALSE(offered.empty());
    for (const std::string& name : offered) {
        EXPECT_EQ(name.rfind("ECDHE-", 0), 0u) << name << " has no forward secrecy";
        EXPECT_TRUE(name.find("GCM") != std::string::npos ||
                    name.find("CHACHA20-POLY1305") != std::string::npos)
            << name << " is not AEAD";
    }
    EXPECT_EQ(SSL_CTX_get_min_proto_version(context.get()), TLS1_2_VERSION);
    EXPECT_NE(SSL_CTX_get_options(context.get()) & SSL_OP_CIPHER_SERVER_PREFERENCE, 0u);
}

}  // namespace
}  // namespace corvane::exporter
