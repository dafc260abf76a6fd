// The web configuration in force, read again when its file (or a certificate or key it
// names) changes, as Prometheus's exporters do. A new version that does not parse, whose
// certificate and key cannot be loaded, or that would turn TLS or basic authentication off
// leaves the last good one in force and is reported in the log once: switching those off
// takes a restart, so a listener that answers TLS never falls back to plain HTTP. Each new
// connection takes the version in force when it arrives.
#pragma once

#include <openssl/ssl.h>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "exporter/web_config.h"
#include "exporter/web_config_file.h"

namespace corvane::exporter {

// How the store reaches its files: the system's, or in tests a stand-in that shows a file
// being written while it is read.
struct WebConfigFiles {
    std::function<FileStamp(const std::string&)> stamp = stampOf;
    std::function<StampedRead(const std::string&, std::size_t, std::string&, FileStamp&,
                              std::string&)>
        read = readStampedFile;
};

struct ActiveWebConfig {
    WebConfig config;
    std::shared_ptr<SSL_CTX> tls;  // null for plain HTTP
};

class WebConfigStore {
public:
    // Without a path: plain HTTP and no login, for good.
    explicit WebConfigStore(std::optional<std::string> path, WebConfigFiles files = {});

    // Reads the file for the first time; false, with `error`, when it is not usable
    // (the exporter then does not start).
    bool load(std::string& error);

    // The version in force, after a look at whether the files changed. Any thread.
    std::shared_ptr<const ActiveWebConfig> current();

    bool lastReloadSucceeded() const { return m_lastReloadSucceeded; }
    const std::optional<std::string>& path() const { return m_path; }

private:
    // A version read from the files, with their stamps from before they were read.
    struct Attempt {
        std::shared_ptr<const ActiveWebConfig> active;  // null when not usable
        std::vector<FileStamp> stamps;
        bool changing = false;  // a file changed while it was read: read again later
    };

    std::vector<FileStamp> stampsOf(const WebConfig* config) const;
    Attempt build(std::string& error) const;

    const std::optional<std::string> m_path;
    const WebConfigFiles m_files;
    std::mutex m_mutex;
    std::shared_ptr<const ActiveWebConfig> m_active;
    std::vector<FileStamp> m_stamps;  // of the version last tried, good or not
    std::atomic<bool> m_lastReloadSucceeded{true};
};

// A server context for TLS from the certificate chain and key files; null, with
// `error`, when they cannot be loaded or do not match.
std::shared_ptr<SSL_CTX> makeTlsContext(const TlsSettings& tls, std::string& error);

}  // namespace corvane::exporter
