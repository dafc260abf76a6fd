// The real corvane_exporter against real clients where the point is the bytes on the
// wire: which TLS 1.2 suites, versions and curves `openssl s_client` gets, and after a
// reload; what curl gets for a password cut by a NUL byte; and a settings file damaged so
// that a MAC is not UTF-8, which /targets and /probe still answer in valid UTF-8.
#include <nlohmann/json.hpp>

#include "lab/exporter_fixture.h"

namespace corvane::lab {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

class ExporterTlsLab : public ExporterLabTest {
protected:
    void SetUp() override {
        ExporterLabTest::SetUp();
        if (!ready()) {
            return;
        }
        if (!succeeds("command -v openssl") || !succeeds("command -v curl")) {
            GTEST_SKIP() << "openssl or curl is missing (scripts/setup-packages installs them)";
        }
        ASSERT_TRUE(makeCertificate());
        m_users = "basic_auth_users:\n" + userLine("prometheus", "s3cret");
    }

    // The web configuration, through a new file as editors write it.
    void writeWebConfig(const std::string& tlsChoices) {
        replaceFile("web.yml",
                    "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n" +
                        tlsChoices + m_users);
    }

    void startExporter(ExporterProcess& exporter, const std::string& settings) {
        replaceFile(settingsPath().filename().string(), settings);
        ExporterLabTest::startExporter(exporter,
                                       {"--from", segment().programAddress, "--web.config.file",
                                        (m_folder / "web.yml").string()});
    }

    // Whether `openssl s_client` with `options` completes a handshake.
    bool handshakes(const ExporterProcess& exporter, const std::string& options) const {
        return succeeds("timeout 10 openssl s_client -connect 127.0.0.1:" +
                        std::to_string(exporter.port()) + " " + options);
    }

    // What curl gets over TLS, trusting the test certificate: the status and the body.
    std::pair<int, std::string> curl(const ExporterProcess& exporter, const std::string& path,
                                     const std::string& options = "-u prometheus:s3cret") const {
        const fs::path body = m_folder / "body";
        const std::string command =
            "curl -s --max-time 10 --cacert " + (m_folder / "server.crt").string() + " " + options +
            " -o " + body.string() +
            " -w '%{http_code}' 'https://127.0.0.1:" + std::to_string(exporter.port()) + path + "'";
        FILE* pipe = popen(command.c_str(), "r");
        char status[8] = {};
        const bool read = pipe != nullptr && std::fgets(status, sizeof status, pipe) != nullptr;
        if (pipe != nullptr) {
            pclose(pipe);
        }
        return {read ? std::atoi(status) : 0, readWholeFile(body)};
    }

    std::string m_users;
};

TEST_F(ExporterTlsLab, SuitesVersionsAndCurvesAsConfigured) {
    writeWebConfig("");
    ExporterProcess exporter;
    startExporter(exporter, "[Config]\n");
    struct Row {
        const char* name;
        const char* options;
        bool agreed;
    };
    const Row defaults[] = {
        {"RSA key exchange, GCM", "-tls1_2 -cipher AES128-GCM-SHA256", false},
        {"RSA key exchange, CBC", "-tls1_2 -cipher AES128-SHA", false},
        {"RSA key exchange, SHA-256", "-tls1_2 -cipher AES256-SHA256", false},
        {"ECDHE but CBC", "-tls1_2 -cipher ECDHE-RSA-AES128-SHA", false},
        {"ECDHE with GCM", "-tls1_2 -cipher ECDHE-RSA-AES128-GCM-SHA256", true},
        {"ECDHE with ChaCha20", "-tls1_2 -cipher ECDHE-RSA-CHACHA20-POLY1305", true},
        {"TLS 1.3", "-tls1_3", true},
    };
    for (const Row& row : defaults) {
        EXPECT_EQ(handshakes(exporter, row.options), row.agreed) << row.name;
    }

    // Chosen under Go's names, taken by a reload at the next connection.
    writeWebConfig(
        "  max_version: TLS12\n"
        "  cipher_suites: [TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384]\n"
        "  curve_preferences: [CurveP384]\n");
    EXPECT_EQ(curl(exporter, "/metrics").first, 200);
    const Row chosen[] = {
        {"the suite named", "-tls1_2 -cipher ECDHE-RSA-AES256-GCM-SHA384", true},
        {"a default suite not named", "-tls1_2 -cipher ECDHE-RSA-AES128-GCM-SHA256", false},
        {"above max_version", "-tls1_3", false},
        {"the curve named", "-tls1_2 -curves P-384", true},
        {"another curve", "-tls1_2 -curves X25519", false},
    };
    for (const Row& row : chosen) {
        EXPECT_EQ(handshakes(exporter, row.options), row.agreed) << row.name;
    }

    // An unknown name is refused; the choices in force stay.
    writeWebConfig("  cipher_suites: [TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA512]\n");
    const auto [status, metrics] = curl(exporter, "/metrics");
    EXPECT_EQ(status, 200);
    EXPECT_NE(metrics.find("corvane_exporter_web_config_last_reload_successful 0\n"),
              std::string::npos);
    EXPECT_FALSE(handshakes(exporter, "-tls1_2 -cipher ECDHE-RSA-AES128-GCM-SHA256"));
    EXPECT_TRUE(handshakes(exporter, "-tls1_2 -cipher ECDHE-RSA-AES256-GCM-SHA384"));

    // A password with a NUL byte is not read as the password before it.
    const struct {
        const char* header;  // base64 of prometheus:s3cret, then of "s3cret\0anything"
        int status;
    } passwords[] = {{"cHJvbWV0aGV1czpzM2NyZXQ=", 200},
                     {"cHJvbWV0aGV1czpzM2NyZXQAYW55dGhpbmc=", 401}};
    for (const auto& row : passwords) {
        EXPECT_EQ(
            curl(exporter, "/metrics", std::string("-H 'Authorization: Basic ") + row.header + "'")
                .first,
            row.status)
            << row.header;
    }
    const std::string log = exporterLog();
    EXPECT_NE(log.find("unknown name 'TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA512' in cipher_suites"),
              std::string::npos)
        << log;
    EXPECT_EQ(exporter.stop(), 0);
}

// A settings file with a MAC that is not UTF-8 and holds terminal controls.
TEST_F(ExporterTlsLab, DamagedMacStillGivesUtf8) {
    ModsimProcess modsim;
    startModsim(modsim, {}, "mac=02:c0:7a:de:00:01 ip=" + moduleText(11) + " protocol=1\n");
    writeWebConfig("");
    ExporterProcess exporter;
    startExporter(exporter, "[Config]\nLocalIP=" + storedSetting(segment().programAddress) +
                                "\n[List]\nTotal=1\nIP0=" + storedSetting(moduleText(11)) +
                                "\nMAC0=02:C0:\xff\xfe\x1b[2J\xc2\x9b"
                                "0m\n");
    const auto [targetsStatus, targets] = curl(exporter, "/targets");
    ASSERT_EQ(targetsStatus, 200) << targets;
    EXPECT_NE(targets.find("\"mac\":\"02:C0:\\ufffd\\ufffd\\u001b[2J\\u009b0m\""),
              std::string::npos)
        << targets;
    const auto [probeStatus, probe] = curl(exporter, "/probe?target=" + moduleText(11));
    ASSERT_EQ(probeStatus, 200);
    EXPECT_NE(probe.find("corvane_module_info{mac=\"02:C0:\xEF\xBF\xBD\xEF\xBF\xBD\\\\u001b[2J"
                         "\\\\u009b0m\",position=\"1\"} 1\n"),
              std::string::npos)
        << probe;
    for (const std::string& body : {targets, probe}) {
        EXPECT_NO_THROW((void)Json(body).dump()) << "not valid UTF-8";
        EXPECT_EQ(body.find('\x1b'), std::string::npos);
    }
    EXPECT_EQ(exporter.stop(), 0);
}

}  // namespace
}  // namespace corvane::lab
