#include "exporter/web_config_store.h"

#include <openssl/err.h>

#include "exporter/exporter_log.h"
#include "exporter/web_config_tls.h"

namespace corvane::exporter {
namespace {

constexpr std::size_t kMaxConfigBytes = 1 << 20;  // a few users and file names: far less
constexpr int kLoadTries = 3;                     // at start, while the file is being written

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string openSslError(const std::string& what) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return what;
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return what + ": " + text;
}

}  // namespace

std::shared_ptr<SSL_CTX> makeTlsContext(const TlsSettings& tls, std::string& error) {
    ERR_clear_error();
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (context == nullptr) {
        error = openSslError("cannot make a TLS context");
        return nullptr;
    }
    SSL_CTX* ctx = context.get();
    std::string problem;
    if (!applyTlsChoices(ctx, tls, problem)) {
        error = openSslError(problem);
        return nullptr;
    }
    if (SSL_CTX_use_certificate_chain_file(ctx, tls.certFile.c_str()) != 1) {
        error = openSslError("cannot load the certificate " + tls.certFile);
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, tls.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        error = openSslError("cannot load the key " + tls.keyFile);
        return nullptr;
    }
    if (SSL_CTX_check_private_key(ctx) != 1) {
        error = openSslError("the key " + tls.keyFile + " does not match the certificate");
        return nullptr;
    }
    // The connections write from buffers that httplib may move between retries.
    SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return context;
}

WebConfigStore::WebConfigStore(std::optional<std::string> path, WebConfigFiles files)
    : m_path(std::move(path)), m_files(std::move(files)) {
    m_active = std::make_shared<ActiveWebConfig>();
}

std::vector<FileStamp> WebConfigStore::stampsOf(const WebConfig* config) const {
    std::vector<FileStamp> stamps = {m_files.stamp(*m_path)};
    if (config != nullptr && config->tls) {
        stamps.push_back(m_files.stamp(config->tls->certFile));
        stamps.push_back(m_files.stamp(config->tls->keyFile));
    }
    return stamps;
}

WebConfigStore::Attempt WebConfigStore::build(std::string& error) const {
    Attempt attempt;
    std::string text;
    FileStamp stamp;
    const StampedRead read = m_files.read(*m_path, kMaxConfigBytes, text, stamp, error);
    attempt.changing = read == StampedRead::changing;
    if (read != StampedRead::read) {
        return attempt;
    }
    attempt.stamps.push_back(stamp);
    std::string problem;
    auto config = parseWebConfig(text, folderOf(*m_path), problem);
    if (!config) {
        error = *m_path + ": " + problem;
        return attempt;
    }
    auto active = std::make_shared<ActiveWebConfig>();
    active->config = std::move(*config);
    if (active->config.tls) {
        const std::vector<FileStamp> before = stampsOf(&active->config);
        active->tls = makeTlsContext(*active->config.tls, problem);
        attempt.changing = stampsOf(&active->config) != before;
        if (active->tls == nullptr || attempt.changing) {
            error = *m_path + ": " + problem;
            return attempt;
        }
        attempt.stamps.insert(attempt.stamps.end(), before.begin() + 1, before.end());
    }
    attempt.active = std::move(active);
    return attempt;
}

bool WebConfigStore::load(std::string& error) {
    if (!m_path) {
        return true;
    }
    const std::lock_guard lock(m_mutex);
    for (int tries = 0; tries < kLoadTries; ++tries) {
        Attempt attempt = build(error);
        if (attempt.active != nullptr) {
            m_stamps = std::move(attempt.stamps);
            m_active = std::move(attempt.active);
            return true;
        }
        if (!attempt.changing) {
            return false;
        }
    }
    error = *m_path + " (or a file it names) kept changing while it was read";
    return false;
}

std::shared_ptr<const ActiveWebConfig> WebConfigStore::current() {
    const std::lock_guard lock(m_mutex);
    if (!m_path) {
        return m_active;
    }
    // The certificate and key named by the version in force: a bad new version is tried
    // again only once one of these files changes again.
    const std::vector<FileStamp> now = stampsOf(&m_active->config);
    if (now == m_stamps) {
        return m_active;
    }
    std::string error;
    Attempt attempt = build(error);
    if (attempt.changing) {
        return m_active;  // being written: the stamps stay, so the next look reads it again
    }
    std::optional<std::string> refusal;
    if (attempt.active != nullptr) {
        refusal = reloadRefusal(m_active->config, attempt.active->config);
    }
    if (attempt.active == nullptr || refusal) {
        m_stamps = now;
        m_lastReloadSucceeded = false;
        logLine(LogLevel::error,
                "the web configuration could not be reloaded; the last good one stays in force: " +
                    (refusal ? *m_path + ": refused, " + *refusal +
                                   " (that takes effect only at a restart)"
                             : error));
        return m_active;
    }
    m_stamps = std::move(attempt.stamps);
    m_active = std::move(attempt.active);
    m_lastReloadSucceeded = true;
    logLine(LogLevel::info,
            "reloaded the web configuration " + *m_path +
                (m_active->tls ? " (TLS)" : " (plain HTTP)") +
                (m_active->config.users.empty() ? "" : " with basic authentication"));
    return m_active;
}

}  // namespace corvane::exporter
