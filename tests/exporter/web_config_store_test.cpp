// The web configuration in force under a running exporter: what a reload takes, what
// leaves the last good version in force (a refusal, a file that does not parse, a damaged
// or missing file, a certificate that cannot be loaded), a file read while it is being
// written, and the TLS context it makes: forward-secret AEAD suites only unless the file
// names others. Which changes a reload refuses is the parser's test's matter.
#include <gtest/gtest.h>

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "exporter/web_config_store.h"
#include "exporter/web_config_tls.h"
#include "files/scratch_folder.h"

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

// The files as the system has them, but for what the test says is being written: the
// web configuration reads as torn `tornReads` more times, and while
// `certificateBeingWritten` every look at the certificate finds it newer than the last.
struct FilesBeingWritten {
    int tornReads = 0;
    bool certificateBeingWritten = false;
    std::int64_t certificateEdits = 0;

    WebConfigFiles files() {
        WebConfigFiles files;
        files.read = [this](const std::string& path, std::size_t most, std::string& text,
                            FileStamp& stamp, std::string& error) {
            if (tornReads > 0) {
                --tornReads;
                return StampedRead::changing;
            }
            return readStampedFile(path, most, text, stamp, error);
        };
        files.stamp = [this](const std::string& path) {
            FileStamp stamp = stampOf(path);
            if (certificateBeingWritten && path.ends_with("server.crt")) {
                stamp.modifiedNs += ++certificateEdits;
            }
            return stamp;
        };
        return files;
    }
};

class WebConfigStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(writeTestCertificate(m_folder));
        for (const char* other : {"renewed", "other"}) {
            fs::create_directory(m_folder / other);
            ASSERT_TRUE(writeTestCertificate(m_folder / other));
        }
    }
    // Through a new file, as editors that replace files do: a new inode each time.
    void write(const std::string& text) {
        std::ofstream(m_folder / "web.new") << text;
        fs::rename(m_folder / "web.new", path());
    }
    // `name` in place of the one in force, moved from the folder `from`.
    void moveIn(const char* from, const char* name) {
        fs::rename(m_folder / from / name, m_folder / name);
    }
    fs::path path() const { return m_folder / "web.yml"; }

    test::ScratchFolder m_scratch;
    const fs::path m_folder{m_scratch.path()};
};

const std::string kTls = "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n";

std::string usersNamed(const std::string& name) {
    return "basic_auth_users:\n  " + name + ": " + kHash + "\n";
}

TEST_F(WebConfigStoreTest, TakesChangesAndKeepsTheLastGoodVersion) {
    write(kTls + usersNamed("alice"));
    WebConfigStore store(path().string());
    std::string error;
    ASSERT_TRUE(store.load(error)) << error;
    struct Row {
        const char* name;
        std::function<void()> change;
        bool taken;
        const char* user;  // the one user in force after it
    };
    const Row rows[] = {
        {"TLS turned off", [&] { write(usersNamed("alice")); }, false, "alice"},
        {"another user", [&] { write(kTls + usersNamed("bob")); }, true, "bob"},
        {"removed", [&] { fs::remove(path()); }, false, "bob"},
        {"binary junk", [&] { write(std::string("\xff\xfe\0\x1b[2J\x80", 8)); }, false, "bob"},
        {"over a mebibyte",
         [&] { write(kTls + usersNamed("carol") + "#" + std::string(1 << 20, 'x') + "\n"); }, false,
         "bob"},
        {"a suite this OpenSSL lacks",
         [&] {
             write(kTls + "  cipher_suites: [TLS_RSA_WITH_RC4_128_SHA]\n" + usersNamed("carol"));
         },
         false, "bob"},
        {"a suite and curve chosen",
         [&] {
             write(kTls +
                   "  cipher_suites: [TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384]\n"
                   "  curve_preferences: [CurveP384, CurveP256]\n" +
                   usersNamed("carol"));
         },
         true, "carol"},
        {"the certificate damaged", [&] { std::ofstream(m_folder / "server.crt") << "junk\n"; },
         false, "carol"},
        {"the key of another certificate", [&] { moveIn("other", "server.key"); }, false, "carol"},
        {"certificate and key renewed",
         [&] {
             moveIn("renewed", "server.crt");
             moveIn("renewed", "server.key");
         },
         true, "carol"},
    };
    auto before = store.current();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.change();
        const auto active = store.current();
        EXPECT_EQ(store.lastReloadSucceeded(), row.taken);
        EXPECT_EQ(active != before, row.taken) << "a version not taken leaves the one in force";
        EXPECT_NE(active->tls, nullptr) << "a TLS listener never turns plain";
        ASSERT_EQ(active->config.users.size(), 1u);
        EXPECT_EQ(active->config.users.begin()->first, row.user);
        EXPECT_EQ(store.current(), active) << "looked at again only once a file changes";
        before = active;
    }
}

// A file that changed while it was read is not taken, nor counted as seen: the next look
// reads it again. At the start, a few such reads are tried before giving up.
TEST_F(WebConfigStoreTest, AFileBeingWrittenIsReadAgain) {
    write(kTls + usersNamed("alice"));
    FilesBeingWritten files;
    files.tornReads = 2;
    WebConfigStore store(path().string(), files.files());
    std::string error;
    ASSERT_TRUE(store.load(error)) << error;
    const auto first = store.current();

    files.tornReads = 1;
    write(kTls + usersNamed("bob"));
    EXPECT_EQ(store.current(), first);
    EXPECT_TRUE(store.lastReloadSucceeded()) << "a torn read is no failure";
    EXPECT_EQ(store.current()->config.users.begin()->first, "bob");

    // The certificate replaced while the TLS context was made from it.
    const auto inForce = store.current()->tls;
    files.certificateBeingWritten = true;
    moveIn("renewed", "server.crt");
    moveIn("renewed", "server.key");
    EXPECT_EQ(store.current()->tls, inForce);
    EXPECT_TRUE(store.lastReloadSucceeded());
    files.certificateBeingWritten = false;
    EXPECT_NE(store.current()->tls, inForce) << "read again once it holds still";

    FilesBeingWritten restless;
    restless.tornReads = 3;
    WebConfigStore never(path().string(), restless.files());
    EXPECT_FALSE(never.load(error));
    EXPECT_NE(error.find("kept changing"), std::string::npos) << error;
}

TEST_F(WebConfigStoreTest, PlainMayTurnToTls) {
    write("");
    WebConfigStore store(path().string());
    std::string error;
    ASSERT_TRUE(store.load(error)) << error;
    EXPECT_EQ(store.current()->tls, nullptr);
    write(kTls + usersNamed("alice"));
    EXPECT_NE(store.current()->tls, nullptr);
    EXPECT_TRUE(store.lastReloadSucceeded());
}

TEST_F(WebConfigStoreTest, UnknownNamesStopTheStart) {
    write(kTls + "  curve_preferences: [X448]\n");
    WebConfigStore store(path().string());
    std::string error;
    EXPECT_FALSE(store.load(error));
    EXPECT_NE(error.find("unknown name 'X448' in curve_preferences"), std::string::npos) << error;
}

// TLS 1.2 suites on offer: without a choice only ECDHE with GCM or ChaCha20-Poly1305.
TEST_F(WebConfigStoreTest, ForwardSecretAeadSuitesByDefault) {
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
