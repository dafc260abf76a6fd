#include "exporter/web_config_store.h"

#include <openssl/err.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "exporter/exporter_log.h"

namespace corvane::exporter {
namespace {

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
    if (SSL_CTX_set_min_proto_version(ctx, tls.minVersion) != 1) {
        error = openSslError("cannot set the lowest TLS version");
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

WebConfigStore::WebConfigStore(std::optional<std::string> path) : m_path(std::move(path)) {
    m_active = std::make_shared<ActiveWebConfig>();
}

std::vector<WebConfigStore::FileStamp> WebConfigStore::stampsOf(const WebConfig* config) const {
    std::vector<std::string> paths = {*m_path};
    if (config != nullptr && config->tls) {
        paths.push_back(config->tls->certFile);
        paths.push_back(config->tls->keyFile);
    }
    std::vector<FileStamp> stamps;
    for (const std::string& path : paths) {
        FileStamp stamp;
        stamp.path = path;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {  // a missing file stamps as "none"
            stamp.device = st.st_dev;
            stamp.inode = st.st_ino;
            stamp.size = st.st_size;
            stamp.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 +
                               st.st_mtim.tv_nsec;
        }
        stamps.push_back(std::move(stamp));
    }
    return stamps;
}

std::shared_ptr<const ActiveWebConfig> WebConfigStore::build(std::string& error) const {
    std::ifstream file(*m_path);
    if (!file) {
        error = "cannot read " + *m_path;
        return nullptr;
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::string problem;
    auto config = parseWebConfig(text.str(), folderOf(*m_path), problem);
    if (!config) {
        error = *m_path + ": " + problem;
        return nullptr;
    }
    auto active = std::make_shared<ActiveWebConfig>();
    active->config = std::move(*config);
    if (active->config.tls) {
        active->tls = makeTlsContext(*active->config.tls, problem);
        if (active->tls == nullptr) {
            error = *m_path + ": " + problem;
            return nullptr;
        }
    }
    return active;
}

bool WebConfigStore::load(std::string& error) {
    if (!m_path) {
        return true;
    }
    const std::lock_guard lock(m_mutex);
    auto active = build(error);
    if (active == nullptr) {
        return false;
    }
    m_stamps = stampsOf(&active->config);
    m_active = std::move(active);
    return true;
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
    auto active = build(error);
    if (active == nullptr) {
        m_stamps = now;
        m_lastReloadSucceeded = false;
        logLine(LogLevel::error, "the web configuration could not be reloaded; the last good one "
                                 "stays in force: " + error);
        return m_active;
    }
    m_stamps = stampsOf(&active->config);
    m_active = std::move(active);
    m_lastReloadSucceeded = true;
    logLine(LogLevel::info, "reloaded the web configuration " + *m_path +
                                (m_active->tls ? " (TLS)" : " (plain HTTP)") +
                                (m_active->config.users.empty() ? "" : " with basic authentication"));
    return m_active;
}

}  // namespace corvane::exporter
