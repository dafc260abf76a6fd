// What every lab test of corvane_exporter begins with: the lab (or a skip with the
// reason), the executable named by CORVANE_EXPORTER, and a folder of the case's own for
// the settings file, the web configuration, the certificate and the exporter's log,
// removed afterwards.
#pragma once

#include <crypt.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lab/exporter_lab_support.h"
#include "lab/lab_test_support.h"
#include "lab/program_run.h"

namespace corvane::lab {

// Whether the shell command succeeds, its output thrown away.
inline bool succeeds(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1 </dev/null").c_str()) == 0;
}

class ExporterLabTest : public ProgramLabTest {
protected:
    ExporterLabTest() : ProgramLabTest("CORVANE_EXPORTER") {}

    // A fixture's own SetUp goes on only when this one got that far.
    bool ready() const { return !IsSkipped() && !HasFatalFailure(); }

    std::filesystem::path settingsPath() const { return m_folder / "corvane-control.ini"; }
    std::filesystem::path logPath() const { return m_folder / "exporter.log"; }
    std::string exporterLog() const { return readWholeFile(logPath()); }

    // `name` in the case's folder replaced by `text` through a new file, as editors and
    // the window's atomic replacement write: the exporter never reads half of it.
    void replaceFile(const std::string& name, const std::string& text) const {
        std::ofstream(m_folder / (name + ".new")) << text;
        std::filesystem::rename(m_folder / (name + ".new"), m_folder / name);
    }

    // Starts `exporter` on settingsPath() with `arguments`, its log in logPath().
    void startExporter(ExporterProcess& exporter, std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"--settings", settingsPath().string()});
        std::string error;
        ASSERT_TRUE(exporter.start(m_program, arguments, logPath().string(), error)) << error;
    }

    // A self-signed RSA certificate for 127.0.0.1 (RSA, so that suites with RSA key
    // exchange could be agreed on) as server.crt and server.key; false without openssl.
    bool makeCertificate() const {
        return succeeds(
            "openssl req -x509 -newkey rsa:2048 -nodes -days 1 "
            "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
            (m_folder / "server.key").string() + " -out " + (m_folder / "server.crt").string());
    }

    // The web configuration's line for `user` with a bcrypt hash of `password` made here.
    static std::string userLine(const std::string& user, const std::string& password) {
        char salt[CRYPT_GENSALT_OUTPUT_SIZE];
        if (crypt_gensalt_rn("$2y$", 5, nullptr, 0, salt, sizeof salt) == nullptr) {
            ADD_FAILURE() << "crypt cannot make a bcrypt salt";
            return {};
        }
        crypt_data data{};
        return "  " + user + ": " + crypt_r(password.c_str(), salt, &data) + "\n";
    }
};

}  // namespace corvane::lab
