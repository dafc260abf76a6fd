#include "exporter/exporter_routes.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "devices/found_modules.h"
#include "exporter/exporter_log.h"
#include "exporter/metrics_text.h"
#include "exporter/probe_report.h"
#include "exporter/process_metrics.h"
#include "exporter/stream_report.h"
#include "exporter/target_rules.h"
#include "net/datagram_exchange.h"
#include "net/local_addresses.h"
#include "reports/address_formats.h"

namespace corvane::exporter {
namespace {

using std::chrono::milliseconds;

constexpr char kPlainText[] = "text/plain; charset=utf-8";
constexpr milliseconds kLeastProbeWait{100};
constexpr double kScrapeMarginSeconds = 0.5;

std::string htmlEscape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

void answerText(httplib::Response& response, int status, const std::string& text) {
    response.status = status;
    response.set_content(text + "\n", kPlainText);
}

nlohmann::json targetGroup(Ipv4Address ip, nlohmann::json labels) {
    return {{"targets", {ip.text()}}, {"labels", std::move(labels)}};
}

// Every address of this computer: a target must never be one of them. An empty list
// when the system cannot say; the sending address is always checked besides.
std::vector<Ipv4Address> ownAddresses() {
    std::vector<LocalAddress> local;
    listLocalAddresses(local);
    std::vector<Ipv4Address> own;
    for (const LocalAddress& address : local) {
        own.push_back(address.address);
    }
    return own;
}

}  // namespace

milliseconds probeWait(const std::string& header) {
    if (header.empty()) {
        return kExchangeWait;
    }
    char* end = nullptr;
    const double seconds = std::strtod(header.c_str(), &end);
    if (end == header.c_str() || *end != '\0' || !std::isfinite(seconds)) {
        return kExchangeWait;
    }
    const double wait = std::max(seconds - kScrapeMarginSeconds, 0.0) * 1000;
    if (wait >= static_cast<double>(kExchangeWait.count())) {
        return kExchangeWait;
    }
    return std::max(kLeastProbeWait, milliseconds(static_cast<long long>(wait)));
}

ExporterRoutes::ExporterRoutes(ProbeService& prober, SiteDeviceList& site, WebConfigStore& web,
                               ExporterSetup setup, StreamWatch& streams)
    : m_prober(prober), m_site(site), m_web(web), m_setup(std::move(setup)), m_streams(streams) {}

void ExporterRoutes::install(httplib::Server& server) {
    server.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            return authorized(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                                 : httplib::Server::HandlerResponse::Handled;
        });
    server.Get("/probe", [this](const httplib::Request& request, httplib::Response& response) {
        probe(request, response);
    });
    server.Get("/metrics",
               [this](const httplib::Request&, httplib::Response& response) { metrics(response); });
    server.Get("/targets", [this](const httplib::Request& request, httplib::Response& response) {
        targets(request, response);
    });
    server.Get("/",
               [this](const httplib::Request&, httplib::Response& response) { index(response); });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
            std::string what = "unknown error";
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {  // the message above says it all
            }
            answerText(response, 500, "internal error: " + what);
        });
}

bool ExporterRoutes::authorized(const httplib::Request& request, httplib::Response& response) {
    const auto web = m_web.current();
    if (web->config.users.empty() ||
        m_auth.allows(web->config.users, request.get_header_value("Authorization"))) {
        return true;
    }
    refusalLog().refused(
        request.remote_addr, "401 unauthorized",
        request.has_header("Authorization") ? "wrong credentials" : "no credentials");
    response.set_header("WWW-Authenticate", "Basic realm=\"corvane_exporter\"");
    answerText(response, 401, "Unauthorized");
    return false;
}

void ExporterRoutes::probe(const httplib::Request& request, httplib::Response& response) {
    const std::string text =
        request.get_param_value_count("target") == 1 ? request.get_param_value("target") : "";
    const TargetCheck check =
        checkTarget(text, m_prober.local(), ownAddresses(), m_setup.allowAnyTarget);
    if (check.verdict != TargetVerdict::accepted) {
        ++m_invalidTargets;
        const std::string problem = targetProblem(check, text);
        refusalLog().refused(request.remote_addr, "400 bad request", problem);
        answerText(response, 400, problem);
        return;
    }
    const std::string module =
        request.has_param("module") ? request.get_param_value("module") : "status";
    if (module != "status" && module != "stream") {
        refusalLog().refused(request.remote_addr, "400 bad request", "unknown module");
        answerText(response, 400, "unknown module '" + module + "': status or stream");
        return;
    }
    const bool streams = module == "stream";
    const milliseconds wait =
        probeWait(request.get_header_value("X-Prometheus-Scrape-Timeout-Seconds"));
    const StreamTime deadline = StreamClock::now() + wait;
    const bool debug = request.get_param_value("debug") == "true";
    // Probes waiting for their streams count towards the probes in flight.
    ProbeService::Probe probe{ProbeService::Admission::overLimit, {}};
    const std::size_t busy = m_streams.waiting() + m_prober.counters().probesInFlight;
    if (!streams || busy < m_prober.maxProbes()) {
        probe = m_prober.probe(check.ip, wait, debug);
    } else {
        ++m_streamOverLimit;
    }
    if (probe.admission != ProbeService::Admission::admitted) {
        refusalLog().refused(request.remote_addr, "503 service unavailable",
                             probe.admission == ProbeService::Admission::overLimit
                                 ? "too many probes in flight"
                                 : "stopping");
        response.set_header("Retry-After", "1");
        answerText(response, 503,
                   probe.admission == ProbeService::Admission::overLimit
                       ? "too many probes in flight (the limit is " +
                             std::to_string(m_prober.maxProbes()) + "); try again"
                       : "the exporter is stopping");
        return;
    }
    std::string metrics = probeMetrics(probe.reading, m_site.current()->devices);
    std::string trace = probeTrace(probe.reading, m_prober.local(), wait);
    if (streams && probe.reading.outcome == StatusOutcome::answered) {
        const auto readings =
            m_streams.measure(runningOutputs(check.ip, probe.reading.settings), deadline);
        metrics += streamMetrics(readings);
        trace += streamTrace(readings);
    }
    if (debug) {
        response.set_content(trace + "\nMetrics that would have been returned:\n" + metrics,
                             kPlainText);
        return;
    }
    response.set_content(metrics, kTextFormatContentType);
}

void ExporterRoutes::metrics(httplib::Response& response) {
    const ProbeCounters counters = m_prober.counters();
    MetricsText text;
    text.add("corvane_exporter_build_info", MetricType::gauge,
             "The exporter's version, as a label; always 1.", 1, {{"version", CORVANE_VERSION}});
    constexpr char kProbesHelp[] =
        "Probes by result: how the status read ended, or why it was not made.";
    for (std::size_t i = 0; i < counters.byOutcome.size(); ++i) {
        text.add("corvane_exporter_probes_total", MetricType::counter, kProbesHelp,
                 static_cast<double>(counters.byOutcome[i]),
                 {{"result", std::string(statusOutcomeName(static_cast<StatusOutcome>(i)))}});
    }
    text.add("corvane_exporter_probes_total", MetricType::counter, kProbesHelp,
             static_cast<double>(counters.overLimit + m_streamOverLimit.load()),
             {{"result", "over_limit"}});
    text.add("corvane_exporter_probes_total", MetricType::counter, kProbesHelp,
             static_cast<double>(m_invalidTargets.load()), {{"result", "invalid_target"}});
    text.add("corvane_exporter_probes_in_flight", MetricType::gauge,
             "Probes admitted and not yet answered.", static_cast<double>(counters.probesInFlight));
    text.add("corvane_exporter_probes_max_in_flight", MetricType::gauge,
             "Probes admitted at most at once; more are answered 503.",
             static_cast<double>(m_prober.maxProbes()));
    text.add("corvane_exporter_exchanges_in_flight", MetricType::gauge,
             "Status exchanges with modules whose request is out (probes of one module share one).",
             static_cast<double>(counters.exchangesInFlight));
    text.add("corvane_exporter_stream_destinations", MetricType::gauge,
             "Destinations of running outputs watched now for module=stream.",
             static_cast<double>(m_streams.watched()));
    text.add("corvane_exporter_stream_destinations_refused_total", MetricType::counter,
             "Destinations not watched because --stream.max-destinations were watched already.",
             static_cast<double>(m_streams.refusedOverLimit()));
    text.add("corvane_exporter_device_list_ok", MetricType::gauge,
             "Whether the settings file's device list can be read (0: it cannot, or it has "
             "been removed, and the last list read is served).",
             m_site.current()->ok ? 1 : 0);
    if (m_web.path()) {
        text.add("corvane_exporter_web_config_last_reload_successful", MetricType::gauge,
                 "Whether the last reload of the web configuration file succeeded.",
                 m_web.lastReloadSucceeded() ? 1 : 0);
    }
    if (const auto figures = readProcessFigures()) {
        addProcessMetrics(text, *figures);
    }
    response.set_content(text.render(), kTextFormatContentType);
}

void ExporterRoutes::targets(const httplib::Request& request, httplib::Response& response) {
    nlohmann::json groups = nlohmann::json::array();
    if (request.get_param_value("discover") == "1") {
        const auto found = m_prober.search();
        if (!found) {
            answerText(response, 500,
                       "the search could not be sent from " + m_prober.local().address.text());
            return;
        }
        const auto listed = discoverableReplies(*found, m_prober.local(), ownAddresses());
        for (const FoundModule& module : sortFoundModules(listed)) {
            groups.push_back(targetGroup(Ipv4Address::fromNetworkOrder(module.hello.ipAddress),
                                         {{"mac", formatMacAddress(module.hello.mac)}}));
        }
    } else {
        const auto site = m_site.current();
        if (!site->ok && !site->kept) {
            answerText(response, 500,
                       "cannot read the settings file " + site->path + ": " + site->reason);
            return;
        }
        for (std::size_t i = 0; i < site->devices.size(); ++i) {
            groups.push_back(targetGroup(
                site->devices[i].ipAddress,
                {{"mac", site->devices[i].macAddress}, {"position", std::to_string(i + 1)}}));
        }
    }
    // A damaged settings file may hold bytes that are not UTF-8: U+FFFD for them, and
    // control characters escaped, rather than an exception and a 500.
    response.set_content(
        groups.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace) + "\n",
        "application/json");
}

void ExporterRoutes::index(httplib::Response& response) {
    const auto web = m_web.current();
    const auto site = m_site.current();
    const std::string settingsState =
        site->state == SettingsState::readable
            ? std::to_string(site->devices.size()) + " modules listed"
        : site->ok   ? "no file yet: no modules listed"
        : site->kept ? "cannot be read: " + site->reason + "; the last list read (" +
                           std::to_string(site->devices.size()) + " modules) is served"
                     : "cannot be read: " + site->reason;
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"Version", CORVANE_VERSION},
        {"Listening on", m_setup.listenAddress},
        {"Sending from", m_prober.local().address.text() + " (" + m_setup.sourceReason + ")"},
        {"Settings file", site->path + " (" + settingsState + ")"},
        {"Targets allowed", m_setup.allowAnyTarget ? "any module address (--allow-any-target)"
                                                   : "module addresses in the sending subnet"},
        {"Probes in flight at most", std::to_string(m_prober.maxProbes())},
        {"Stream destinations watched at most", std::to_string(m_streams.maxDestinations())},
        {"Web configuration", m_web.path() ? *m_web.path() : "none"},
        {"TLS", web->tls ? "on" : "off"},
        {"Basic authentication", web->config.users.empty() ? "off" : "on"},
    };
    std::string html =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Corvane "
        "exporter</title></head>"
        "<body>\n<h1>Corvane exporter</h1>\n<p>Status of broadcast head-end modules for "
        "Prometheus.</p>\n<ul>\n<li><a href=\"metrics\">metrics</a>: the exporter's own</li>\n"
        "<li><a href=\"targets\">targets</a>: the device list for HTTP service discovery "
        "(<a href=\"targets?discover=1\">from a search</a> instead)</li>\n"
        "<li>probe?target=A.B.C.D: one module's status (&amp;debug=true shows the datagrams; "
        "&amp;module=stream also measures its running outputs here)</li>\n"
        "</ul>\n<form action=\"probe\"><label>Probe <input name=\"target\" "
        "placeholder=\"A.B.C.D\"></label> <label><input type=\"checkbox\" name=\"debug\" "
        "value=\"true\"> debug</label> <input type=\"submit\" value=\"Probe\"></form>\n"
        "<h2>Configuration</h2>\n<table>\n";
    for (const auto& [name, value] : rows) {
        html += "<tr><th align=\"left\">" + htmlEscape(name) + "</th><td>" + htmlEscape(value) +
                "</td></tr>\n";
    }
    html += "</table>\n</body></html>\n";
    response.set_content(html, "text/html; charset=utf-8");
}

}  // namespace corvane::exporter
