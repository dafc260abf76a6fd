// The exporter's HTTP endpoints, a thin shell over the probe service and the operator's
// settings:
//   /probe?target=A.B.C.D[&debug=true]   one status read of one module, as metrics
//   /probe?target=...&module=stream      and what arrives of its running outputs here
//   /metrics                             the exporter's own metrics
//   /targets[?discover=1]                Prometheus HTTP service discovery
//   /                                    a page with links and the configuration
// Basic authentication, when the web configuration has users, covers all of them and is
// checked before anything else is done.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <httplib.h>

#include "exporter/basic_auth.h"
#include "exporter/probe_service.h"
#include "exporter/site_device_list.h"
#include "exporter/stream_watch.h"
#include "exporter/web_config_store.h"

namespace corvane::exporter {

struct ExporterSetup {
    std::string listenAddress;  // as given, for the page
    bool allowAnyTarget = false;
    std::string settingsPath;    // for the page
    std::string sourceReason;    // why this local address was chosen, for the page
};

class ExporterRoutes {
public:
    ExporterRoutes(ProbeService& prober, SiteDeviceList& site, WebConfigStore& web,
                   ExporterSetup setup, StreamWatch& streams);

    void install(httplib::Server& server);

private:
    bool authorized(const httplib::Request& request, httplib::Response& response);
    void probe(const httplib::Request& request, httplib::Response& response);
    void metrics(httplib::Response& response);
    void targets(const httplib::Request& request, httplib::Response& response);
    void index(httplib::Response& response);

    ProbeService& m_prober;
    SiteDeviceList& m_site;
    WebConfigStore& m_web;
    const ExporterSetup m_setup;
    BasicAuth m_auth;
    StreamWatch& m_streams;
    std::atomic<std::uint64_t> m_invalidTargets{0};
    std::atomic<std::uint64_t> m_streamOverLimit{0};  // stream probes past the in-flight limit
};

// The wait of a probe: 3 s, or less when Prometheus says its scrape times out sooner
// (the header's seconds less half a second, never under 0.1 s). `header` is the value of
// X-Prometheus-Scrape-Timeout-Seconds, empty when absent; an unreadable value is ignored.
std::chrono::milliseconds probeWait(const std::string& header);

}  // namespace corvane::exporter
