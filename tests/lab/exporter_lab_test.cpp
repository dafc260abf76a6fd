// The real corvane_exporter against one rack of simulated modules: every endpoint, what
// each sends (from the simulator's log), targets refused with nothing sent, the scrape
// timeout, one exchange shared by concurrent probes of a module, 503 above the limit, the
// bounds on requests, SIGTERM, TLS and basic authentication with a certificate and a hash
// made here, and a real Prometheus scraping through service discovery; and hostile or
// careless clients: discovery in a loop, one client's idle connections, refusals in the
// log, many ranges, a removed settings file, a taken port.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/resource.h>

#include <atomic>
#include <future>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "exporter/loopback_client.h"
#include "lab/exporter_fixture.h"

namespace corvane::lab {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

using test::connectFrom;

// What arrives on `fd` until the exporter closes it (at most 10 s between reads) or, with
// `wholeIsEnough`, until a whole answer has arrived.
std::string readToEnd(int fd, bool wholeIsEnough = false) {
    return test::readToEnd(fd, 10000, wholeIsEnough);
}

// Sends `head` from `source` (one byte every `trickleMs` when not 0) on a fresh connection
// and reads until a whole answer has come or the exporter closes it; what came back, and
// after how many seconds.
std::pair<std::string, double> rawRequest(int port, const std::string& head, int trickleMs = 0,
                                          const char* source = "127.0.0.1") {
    const auto start = Clock::now();
    const int fd = connectFrom(source, port);
    if (fd < 0) {
        return {"(no connection)", 0};
    }
    if (trickleMs == 0) {
        ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);  // a refusal mid-way is read below
    }
    for (std::size_t sent = 0; trickleMs > 0 && sent < head.size(); ++sent) {
        pollfd ready{fd, POLLIN, 0};
        if (::send(fd, head.data() + sent, 1, MSG_NOSIGNAL) < 0 ||
            ::poll(&ready, 1, trickleMs) > 0) {
            break;  // cut off: what the exporter said, if anything, is read below
        }
    }
    const std::string answer = readToEnd(fd, true);
    ::close(fd);
    return {answer, secondsSince(start)};
}

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// A Range header asking for the whole answer 2000 times.
std::string manyRanges() {
    std::string ranges = "bytes=0-";
    for (int i = 1; i < 2000; ++i) {
        ranges += ",0-";
    }
    return ranges;
}

// The broadcasts the rack received since `from` (an index into its log).
std::size_t searchesSince(const ModsimProcess& modsim, std::size_t from) {
    const auto log = modsim.log();
    std::size_t count = 0;
    for (std::size_t i = from; i < log.size(); ++i) {
        count += log[i].destination == "255.255.255.255" ? 1 : 0;
    }
    return count;
}

// Raises `flag` when the case ends, however it ends, so that the loops it ran stop.
struct RaiseOnExit {
    std::atomic<bool>& flag;
    ~RaiseOnExit() { flag = true; }
};

// Whether /metrics shows `line` within 5 s: the exporter has reached the state it names.
bool metricsShow(const ExporterProcess& exporter, const std::string& line) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    do {
        const auto metrics = exporter.client().Get("/metrics");
        if (metrics && metrics->body.find(line) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    return false;
}

class ExporterLab : public ExporterLabTest {
protected:
    void SetUp() override {
        ExporterLabTest::SetUp();
        if (!ready()) {
            return;
        }
        // 11 runs, 12 is stopped, 13 reports entries, 14 to 16 are silent.
        const std::string rack =
            "mac=02:c0:7a:de:00:01 ip=" + ip(11) +
            " protocol=1 mode=3 dest=239.10.1.1 port=1234 flags=0x0010\n"
            "mac=02:c0:7a:de:00:02 ip=" +
            ip(12) +
            " protocol=2 mode=0 dest=239.10.1.2 port=5000\n"
            "mac=02:c0:7a:de:00:03 ip=" +
            ip(13) +
            " out=0x1100,239.10.2.1,1234,0x0100 out=0x1000,239.10.2.2,1234,0x0200"
            " in=0x2100,0.0.0.0,5000\n"
            "mac=02:c0:7a:de:00:04 ip=" +
            ip(14) +
            " silent=1\n"
            "mac=02:c0:7a:de:00:05 ip=" +
            ip(15) +
            " silent=1\n"
            "mac=02:c0:7a:de:00:06 ip=" +
            ip(16) + " silent=1\n";
        startModsim(m_modsim, {}, rack);
        writeSettings({11, 12, 14});
    }
    std::string ip(std::uint32_t n) const { return moduleText(n); }

    // The operator's settings: the modules at `listed`, the lab's adapter chosen.
    void writeSettings(const std::vector<std::uint32_t>& listed) {
        std::string text = "[Config]\nLocalIP=" + storedSetting(segment().programAddress) +
                           "\n[List]\nTotal=" + std::to_string(listed.size()) + "\n";
        for (std::size_t i = 0; i < listed.size(); ++i) {
            char mac[32];
            std::snprintf(mac, sizeof mac, "02:C0:7A:DE:00:%02u", listed[i] - 10);
            text += "IP" + std::to_string(i) + "=" + storedSetting(ip(listed[i])) + "\nMAC" +
                    std::to_string(i) + "=" + mac + "\n";
        }
        replaceFile(settingsPath().filename().string(), text);
    }

    // The addresses the rack received datagrams for since `from` (an index into its log).
    std::multiset<std::string> sentSince(std::size_t from, std::size_t expected) const {
        const auto log = m_modsim.waitForLog([](const LoggedDatagram&) { return true; },
                                             from + expected, expected == 0 ? 300 : 3000);
        std::multiset<std::string> sent;
        for (std::size_t i = from; i < log.size(); ++i) {
            EXPECT_TRUE(isFrom(log[i], "WiZnAsGt") || isFrom(log[i], "WiZnLiSt"))
                << "only status reads and the discovery search are ever sent";
            sent.insert(log[i].destination);
        }
        return sent;
    }

    // Whether the rack has received a search since `from` (an index into its log), within 5 s.
    bool searchSeen(std::size_t from) const {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (searchesSince(m_modsim, from) == 0) {
            if (Clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    ModsimProcess m_modsim;
};

TEST_F(ExporterLab, EveryEndpointAgainstOneRack) {
    ExporterProcess exporter;
    startExporter(exporter, {"--from", segment().programAddress, "--probe.max-in-flight", "3"});
    // From their own address, so that they take none of the share of the clients below.
    auto silent = std::async(std::launch::async,
                             [&] { return rawRequest(exporter.port(), "", 0, "127.0.0.5"); });
    auto trickle = std::async(std::launch::async, [&] {
        return rawRequest(
            exporter.port(),
            "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: " + std::string(200, 'a') + "\r\n\r\n", 400,
            "127.0.0.5");
    });
    httplib::Client http = exporter.client();
    const std::string broadcast = "255.255.255.255";
    struct Row {
        const char* name;
        std::string path;
        httplib::Headers headers;
        int status;
        std::vector<std::string> contains;
        std::vector<std::string> sentTo;  // each address once per port
        double atLeast;                   // seconds
        double atMost;
    };
    const Row rows[] = {
        {"a running single output, listed",
         "/probe?target=" + ip(11),
         {},
         200,
         {"corvane_probe_success 1\n", "corvane_output_running 1\n",
          "corvane_output_info{protocol=\"RTP\",destination=\"239.10.1.1:1234\","
          "no_stuffing=\"true\"} 1\n",
          "corvane_module_info{mac=\"02:C0:7A:DE:00:01\",position=\"1\"} 1\n"},
         {ip(11)},
         0,
         1},
        {"entries",
         "/probe?target=" + ip(13),
         {},
         200,
         {"corvane_probe_success 1\n",
          "corvane_output_entry_running{entry=\"1\",destination=\"239.10.2.2:1234\"} 0\n",
          "corvane_input_entry_info{entry=\"0\",source=\"0.0.0.0:5000\"} 1\n"},
         {ip(13)},
         0,
         1},
        {"a silent module answers after its 3 s with 200",
         "/probe?target=" + ip(14),
         {},
         200,
         {"corvane_probe_success 0\n", "corvane_probe_failure_info{reason=\"timeout\"} 1\n",
          "position=\"3\""},
         {ip(14)},
         2.9,
         3.6},
        {"a short scrape timeout shortens the wait",
         "/probe?target=" + ip(14),
         {{"X-Prometheus-Scrape-Timeout-Seconds", "1.2"}},
         200,
         {"corvane_probe_success 0\n", "corvane_probe_duration_seconds 0.7"},
         {ip(14)},
         0.6,
         1.2},
        {"debug: the datagrams and the end",
         "/probe?target=" + ip(12) + "&debug=true",
         {},
         200,
         {"from " + segment().programAddress,
          "sent           port 9100  26 bytes  "
          "57695a6e41734774000000",
          "received       port 9", "Ended: answered after", "corvane_output_running 0\n"},
         {ip(12)},
         0,
         1},
        {"outside the subnets: refused, nothing sent",
         "/probe?target=10.200.1.1",
         {},
         400,
         {"outside the subnet"},
         {},
         0,
         1},
        {"not a module address: refused",
         "/probe?target=" + segment().moduleAddress(0),
         {},
         400,
         {"not an address a module may have"},
         {},
         0,
         1},
        {"not an address: refused",
         "/probe?target=" + ip(11) + ":9100",
         {},
         400,
         {"not an IPv4 address"},
         {},
         0,
         1},
        {"no target", "/probe", {}, 400, {"target parameter is missing"}, {}, 0, 1},
        {"targets from the device list",
         "/targets",
         {},
         200,
         {"[{\"labels\":{\"mac\":\"02:C0:7A:DE:00:01\",\"position\":\"1\"},\"targets\":[\"" +
          ip(11) + "\"]},"},
         {},
         0,
         1},
        {"targets from a search",
         "/targets?discover=1",
         {},
         200,
         {"{\"labels\":{\"mac\":\"02:C0:7A:DE:00:03\"},\"targets\":[\"" + ip(13) + "\"]}]"},
         {broadcast},
         1.9,
         3},
        {"the page",
         "/",
         {},
         200,
         {"<a href=\"metrics\">", "Sending from</th><td>" + segment().programAddress + " (--from)",
          "3 modules listed"},
         {},
         0,
         1},
        {"an unknown path", "/nothing", {}, 404, {}, {}, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::size_t logged = m_modsim.log().size();
        const auto start = Clock::now();
        const auto result = http.Get(row.path, row.headers);
        const double took = secondsSince(start);
        ASSERT_TRUE(result) << httplib::to_string(result.error());
        EXPECT_EQ(result->status, row.status) << result->body;
        for (const std::string& part : row.contains) {
            EXPECT_NE(result->body.find(part), std::string::npos) << part << "\n" << result->body;
        }
        EXPECT_GE(took, row.atLeast);
        EXPECT_LE(took, row.atMost);
        std::multiset<std::string> expected;
        for (const std::string& to : row.sentTo) {
            expected.insert({to, to});
        }
        EXPECT_EQ(sentSince(logged, expected.size()), expected);
    }
    const auto targets = Json::parse(http.Get("/targets")->body);
    EXPECT_EQ(targets.size(), 3u);
    EXPECT_EQ(targets[2], (Json{{"targets", {ip(14)}},
                                {"labels", {{"mac", "02:C0:7A:DE:00:04"}, {"position", "3"}}}}));

    // A module the operator adds is served from the next refresh.
    writeSettings({11, 12, 14, 13});
    EXPECT_EQ(Json::parse(http.Get("/targets")->body).at(3).at("targets").at(0), ip(13));
    const std::size_t beforeAdded = m_modsim.log().size();
    EXPECT_NE(http.Get("/probe?target=" + ip(13))->body.find("position=\"4\""), std::string::npos);
    // Its second request may reach the log after the answer: count it here, not below.
    EXPECT_EQ(sentSince(beforeAdded, 2).size(), 2u);

    // Three probes of one silent module at once share one exchange; three more of another
    // fill the limit, and a fourth is answered 503 at once with nothing sent. A short
    // scrape timeout keeps each within a second or so.
    std::size_t logged = m_modsim.log().size();
    const auto probeAll = [&](std::uint32_t module, const char* timeout) {
        std::vector<std::future<int>> probes;
        for (int i = 0; i < 3; ++i) {
            probes.push_back(std::async(std::launch::async, [&exporter, this, module, timeout] {
                const auto result =
                    exporter.client().Get("/probe?target=" + ip(module),
                                          {{"X-Prometheus-Scrape-Timeout-Seconds", timeout}});
                return result ? result->status : -1;
            }));
        }
        return probes;
    };
    for (auto& probe : probeAll(15, "1.5")) {
        EXPECT_EQ(probe.get(), 200);
    }
    EXPECT_EQ(sentSince(logged, 2), (std::multiset<std::string>{ip(15), ip(15)}));
    logged = m_modsim.log().size();
    auto busy = probeAll(16, "2");
    ASSERT_TRUE(metricsShow(exporter, "corvane_exporter_probes_in_flight 3\n"));
    const auto start = Clock::now();
    const auto refused = http.Get("/probe?target=" + ip(11));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503) << refused->body;
    EXPECT_LT(secondsSince(start), 0.5);
    for (auto& probe : busy) {
        EXPECT_EQ(probe.get(), 200);
    }
    EXPECT_EQ(sentSince(logged, 2), (std::multiset<std::string>{ip(16), ip(16)}));
    const std::string metrics = http.Get("/metrics")->body;
    for (const std::string line :
         {"corvane_exporter_probes_total{result=\"answered\"} 4\n",
          "corvane_exporter_probes_total{result=\"timeout\"} 8\n",
          "corvane_exporter_probes_total{result=\"over_limit\"} 1\n",
          "corvane_exporter_probes_total{result=\"invalid_target\"} 4\n",
          "corvane_exporter_probes_in_flight 0\n", "corvane_exporter_exchanges_in_flight 0\n",
          "corvane_exporter_build_info{version=\"", "process_resident_memory_bytes ",
          "process_open_fds ", "process_cpu_seconds_total ", "process_start_time_seconds "}) {
        EXPECT_NE(metrics.find(line), std::string::npos) << line << metrics;
    }

    // Bounds: a long request line and a large header are refused; the client that says
    // nothing and the one that trickles its request, both started first, are cut off.
    const std::string longPath =
        "GET /probe?target=" + std::string(9000, '1') + " HTTP/1.1\r\n\r\n";
    EXPECT_EQ(rawRequest(exporter.port(), longPath).first.rfind("HTTP/1.1 414 ", 0), 0u);
    const std::string bigHeader =
        "GET / HTTP/1.1\r\nHost: x\r\nX-Filler: " + std::string(9000, 'a') + "\r\n\r\n";
    EXPECT_EQ(rawRequest(exporter.port(), bigHeader).first.rfind("HTTP/1.1 431 ", 0), 0u);
    const auto [quiet, quietSeconds] = silent.get();
    EXPECT_EQ(quiet, "");
    EXPECT_GT(quietSeconds, 4.5);
    EXPECT_LT(quietSeconds, 7);
    const auto [slow, slowSeconds] = trickle.get();
    EXPECT_EQ(slow, "");
    EXPECT_GT(slowSeconds, 9.5);
    EXPECT_LT(slowSeconds, 13);

    // SIGTERM while a probe waits: it is answered, then the exporter exits 0.
    auto last = std::async(std::launch::async, [&] {
        const auto result = exporter.client().Get("/probe?target=" + ip(14),
                                                  {{"X-Prometheus-Scrape-Timeout-Seconds", "2"}});
        return result ? result->body : std::string();
    });
    ASSERT_TRUE(metricsShow(exporter, "corvane_exporter_probes_in_flight 1\n"));
    EXPECT_EQ(exporter.stop(), 0);
    EXPECT_NE(last.get().find("corvane_probe_success 0\n"), std::string::npos);
    EXPECT_NE(exporterLog().find("level=info msg=\"received SIGTERM"), std::string::npos)
        << exporterLog();
}

// Clients looping /targets?discover=1 share one search, reused for its maximum age, and
// a probe that arrives during the search is answered by its own deadline; a search keeps
// at most --discovery.max-replies modules.
TEST_F(ExporterLab, DiscoveryIsSharedAndHoldsNoProbePastItsDeadline) {
    ExporterProcess exporter;
    startExporter(exporter, {"--discovery.max-replies", "2"});
    const std::size_t logged = m_modsim.log().size();
    std::atomic<bool> probed{false};
    std::vector<std::future<std::set<std::string>>> loops;
    for (int client = 0; client < 4; ++client) {
        loops.push_back(std::async(std::launch::async, [&] {
            // Until the probe is answered, and at least once after the search has ended.
            std::set<std::string> answers;
            auto http = exporter.client();
            for (int asked = 0; asked < 2 || !probed; ++asked) {
                const auto result = http.Get("/targets?discover=1");
                answers.insert(result ? std::to_string(result->status) + result->body : "failed");
            }
            return answers;
        }));
    }
    const RaiseOnExit stopLoops{probed};
    ASSERT_TRUE(searchSeen(logged)) << "no search reached the rack";
    const auto probeStart = Clock::now();
    const auto probe = exporter.client().Get("/probe?target=" + ip(11),
                                             {{"X-Prometheus-Scrape-Timeout-Seconds", "1.0"}});
    const double probeSeconds = secondsSince(probeStart);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->status, 200);
    // 0.5 s to live; held by the search it would take 2.2 s.
    EXPECT_LT(probeSeconds, 1.4) << "a probe waits for a search only within its own deadline";
    probed = true;
    for (auto& loop : loops) {
        const auto answers = loop.get();
        ASSERT_EQ(answers.size(), 1u) << "every answer is the one search's";
        const Json listed = Json::parse(answers.begin()->substr(3));
        EXPECT_EQ(answers.begin()->substr(0, 3), "200");
        EXPECT_EQ(listed.size(), 2u) << "three modules answer; two are kept";
    }
    EXPECT_EQ(searchesSince(m_modsim, logged), 2u) << "one search, on both ports";
    // Within the maximum age, asked again: answered at once, nothing sent.
    const auto again = Clock::now();
    EXPECT_EQ(exporter.client().Get("/targets?discover=1")->status, 200);
    EXPECT_LT(secondsSince(again), 1.0);
    EXPECT_EQ(searchesSince(m_modsim, logged), 2u);
    EXPECT_EQ(exporter.stop(), 0);
}

// Without reuse, clients searching back to back cannot hold the probes: those held by a
// search start before the next one, and are answered.
TEST_F(ExporterLab, ProbesHeldByASearchGoBeforeTheNext) {
    ExporterProcess exporter;
    startExporter(exporter, {"--discovery.max-age", "0"});
    const std::size_t logged = m_modsim.log().size();
    std::atomic<bool> probed{false};
    std::vector<std::future<int>> loops;
    for (int client = 0; client < 2; ++client) {
        loops.push_back(std::async(std::launch::async, [&] {
            int searches = 0;
            auto http = exporter.client();
            while (!probed) {
                searches += http.Get("/targets?discover=1") ? 1 : 0;
            }
            return searches;
        }));
    }
    const RaiseOnExit stopLoops{probed};
    ASSERT_TRUE(searchSeen(logged)) << "no search reached the rack";
    const auto probeStart = Clock::now();
    const auto probe = exporter.client().Get("/probe?target=" + ip(11));
    ASSERT_TRUE(probe);
    EXPECT_NE(probe->body.find("corvane_probe_success 1\n"), std::string::npos);
    EXPECT_LT(secondsSince(probeStart), 3.5);
    probed = true;
    for (auto& loop : loops) {
        EXPECT_GE(loop.get(), 1);
    }
    EXPECT_EQ(exporter.stop(), 0);
}

// Idle connections from one address take only that address's share of the workers;
// the connection-level 503 says its length right; SIGTERM closes idle connections at
// once; refusals are logged once per client and reason.
TEST_F(ExporterLab, OneClientCannotStarveOthers) {
    ExporterProcess exporter;
    // 2 probes: 10 workers, 10 in line, 6 connections per client address.
    startExporter(exporter, {"--probe.max-in-flight", "2"});
    std::vector<int> idle;
    for (int i = 0; i < 24; ++i) {
        idle.push_back(connectFrom("127.0.0.1", exporter.port()));
        ASSERT_GE(idle.back(), 0) << std::strerror(errno);
    }
    ASSERT_TRUE(test::busyAnswer(readToEnd(idle.back()), ""));

    const auto start = Clock::now();
    const auto metrics = [&] {
        const int fd = connectFrom("127.0.0.2", exporter.port());
        const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        const std::string answer = readToEnd(fd);
        ::close(fd);
        return answer;
    }();
    EXPECT_EQ(metrics.rfind("HTTP/1.1 200 ", 0), 0u) << metrics.substr(0, 200);
    EXPECT_LT(secondsSince(start), 2.0);

    // More idle connections from two more addresses: some wait in line. SIGTERM ends
    // them all at once. The exporter takes connections in order, so once the one over
    // 127.0.0.3's share is turned away, every one before it is in.
    for (const char* source : {"127.0.0.4", "127.0.0.3"}) {
        for (int i = 0; i < 6; ++i) {
            idle.push_back(connectFrom(source, exporter.port()));
        }
    }
    const int overShare = connectFrom("127.0.0.3", exporter.port());
    EXPECT_EQ(readToEnd(overShare).rfind("HTTP/1.1 503 ", 0), 0u);
    ::close(overShare);
    const auto stopping = Clock::now();
    EXPECT_EQ(exporter.stop(), 0);
    EXPECT_LT(secondsSince(stopping), 3.0) << "idle connections would hold it 5 s";
    for (const int fd : idle) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    const std::string log = exporterLog();
    EXPECT_EQ(countOf(log,
                      "level=warn msg=\"503 service unavailable from 127.0.0.1: Too many "
                      "connections from your address"),
              1u)
        << log;
}

// A bad target's text reaches the log escaped, once for four refusals; a target that is
// this computer's own address is refused; a request for 2000 ranges is answered once.
TEST_F(ExporterLab, RefusalsAreLoggedAndNotMultiplied) {
    ExporterProcess exporter;
    startExporter(exporter, {"--from", segment().programAddress});
    httplib::Client http = exporter.client();
    const std::size_t logged = m_modsim.log().size();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(http.Get("/probe?target=10.77.64.11%0D%0Alevel%3Derror")->status, 400);
    }
    const auto own = http.Get("/probe?target=" + segment().programAddress);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->status, 400);
    EXPECT_NE(own->body.find("an address of this computer"), std::string::npos) << own->body;
    EXPECT_TRUE(sentSince(logged, 0).empty());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(rawRequest(exporter.port(), "NOT HTTP\r\n\r\n").first.rfind("HTTP/1.1 400 ", 0),
                  0u);
    }

    const auto plain = http.Get("/metrics");
    const auto many = http.Get("/metrics", {{"Range", manyRanges()}});
    ASSERT_TRUE(plain && many);
    EXPECT_EQ(many->status, 200);
    EXPECT_LT(many->body.size(), 3 * plain->body.size());
    EXPECT_EQ(exporter.stop(), 0);

    const std::string log = exporterLog();
    EXPECT_EQ(log.find('\r'), std::string::npos);
    EXPECT_EQ(countOf(log,
                      "level=warn msg=\"400 bad request from 127.0.0.1: '10.77.64.11\\r\\n"
                      "level=error' is not an IPv4 address"),
              1u)
        << log;
    EXPECT_EQ(countOf(log, "400 bad request from 127.0.0.1"), 1u) << "once a minute";
    EXPECT_EQ(countOf(log, "level=warn msg=\"400 malformed request from 127.0.0.1\"\n"), 1u);
}

// A settings file removed under the running exporter: the last list is served, an
// error is logged and /metrics says so, until the file is back.
TEST_F(ExporterLab, RemovedSettingsKeepTheLastList) {
    ExporterProcess exporter;
    startExporter(exporter, {"--from", segment().programAddress});
    httplib::Client http = exporter.client();
    const auto listed = http.Get("/targets");
    ASSERT_TRUE(listed);
    const auto okLine = [&](int ok) {
        return http.Get("/metrics")
                   ->body.find("corvane_exporter_device_list_ok " + std::to_string(ok) + "\n") !=
               std::string::npos;
    };
    EXPECT_TRUE(okLine(1));
    fs::remove(settingsPath());
    const auto kept = http.Get("/targets");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->status, 200);
    EXPECT_EQ(kept->body, listed->body);
    EXPECT_TRUE(okLine(0));
    writeSettings({11});
    EXPECT_EQ(Json::parse(http.Get("/targets")->body).size(), 1u);
    EXPECT_TRUE(okLine(1));
    EXPECT_EQ(exporter.stop(), 0);
    const std::string log = exporterLog();
    EXPECT_NE(
        log.find("level=error msg=\"cannot read the settings file " + settingsPath().string() +
                 ": the file has been removed; the last device "
                 "list read (3 modules) stays in force"),
        std::string::npos)
        << log;
}

// Under the usual soft limit of 1024 open files, the largest --probe.max-in-flight
// raises it; a second exporter on the same address and port exits 1.
TEST_F(ExporterLab, StartsAloneWithRoomForItsSockets) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(1024, saved.rlim_max);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    ExporterProcess exporter;
    startExporter(exporter, {"--probe.max-in-flight", "1024"});
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    const std::string metrics = exporter.client().Get("/metrics")->body;
    std::smatch most;
    ASSERT_TRUE(std::regex_search(metrics, most, std::regex("\nprocess_max_fds (\\d+)\n")));
    const double wanted = 2 * 1024 + 2 * 1032 + 64;
    EXPECT_GE(std::stod(most[1]), std::min(wanted, static_cast<double>(saved.rlim_max)));

    const std::string second = (m_folder / "second.log").string();
    const std::string command =
        "exec " + m_program + " --web.listen-address 127.0.0.1:" + std::to_string(exporter.port()) +
        " --settings " + settingsPath().string() + " 2>" + second;
    const int status = std::system(("timeout 10 sh -c '" + command + "'").c_str());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(readWholeFile(second).find("address in use"), std::string::npos)
        << readWholeFile(second);
    EXPECT_EQ(exporter.client().Get("/metrics")->status, 200) << "the first one still serves";
    EXPECT_EQ(exporter.stop(), 0);
}

// A test certificate for 127.0.0.1 and a bcrypt hash, made here; the web configuration
// changed under the running exporter.
TEST_F(ExporterLab, TlsAndBasicAuthentication) {
    if (!makeCertificate()) {
        GTEST_SKIP() << "the openssl command is missing or failed; no test certificate";
    }
    const fs::path cert = m_folder / "server.crt";
    const fs::path web = m_folder / "web.yml";
    const std::string tlsConfig =
        "tls_server_config:\n  cert_file: server.crt\n"
        "  key_file: server.key\nbasic_auth_users:\n" +
        userLine("prometheus", "lab-password");
    std::ofstream(web) << tlsConfig;

    ExporterProcess exporter;
    startExporter(exporter, {"--web.config.file", web.string()});
    const auto https = [&](const char* user, const char* password) {
        auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", exporter.port());
        client->set_ca_cert_path(cert.c_str());
        client->enable_server_certificate_verification(true);
        if (user != nullptr) {
            client->set_basic_auth(user, password);
        }
        return client;
    };
    struct Row {
        const char* name;
        const char* user;
        const char* password;
        std::string path;
        int status;
    };
    const Row rows[] = {
        {"no credentials", nullptr, nullptr, "/probe?target=" + ip(11), 401},
        {"wrong password", "prometheus", "guess", "/probe?target=" + ip(11), 401},
        {"unknown user", "alice", "lab-password", "/metrics", 401},
        {"every endpoint is covered", nullptr, nullptr, "/targets", 401},
        {"the page too", nullptr, nullptr, "/", 401},
        {"right credentials", "prometheus", "lab-password", "/probe?target=" + ip(11), 200},
        {"and again, remembered", "prometheus", "lab-password", "/metrics", 200},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::size_t logged = m_modsim.log().size();
        auto client = https(row.user, row.password);
        const auto result = client->Get(row.path);
        ASSERT_TRUE(result) << httplib::to_string(result.error());
        EXPECT_EQ(result->status, row.status);
        if (row.status == 401) {
            EXPECT_EQ(result->get_header_value("WWW-Authenticate"),
                      "Basic realm=\"corvane_exporter\"");
        }
        const std::size_t sent = row.status == 200 && row.path.rfind("/probe", 0) == 0 ? 2 : 0;
        EXPECT_EQ(sentSince(logged, sent).size(), sent);
    }
    EXPECT_FALSE(exporter.client().Get("/metrics")) << "plain HTTP is not served beside TLS";
    // A stranger asking for 2000 ranges gets one 401, not 2000; refusals are logged.
    const auto many = https(nullptr, nullptr)->Get("/metrics", {{"Range", manyRanges()}});
    ASSERT_TRUE(many);
    EXPECT_EQ(many->status, 401);
    EXPECT_LT(many->body.size(), 100u);
    const std::string refusals = exporterLog();
    for (const char* line : {"level=warn msg=\"401 unauthorized from 127.0.0.1: no credentials",
                             "level=warn msg=\"TLS handshake failed from 127.0.0.1: "}) {
        EXPECT_NE(refusals.find(line), std::string::npos) << line << "\n" << refusals;
    }

    // A file that does not parse keeps the last good one in force, and says so.
    std::ofstream(web) << "tls_server_config: [\n";
    EXPECT_EQ(https("prometheus", "lab-password")->Get("/metrics")->status, 200);
    EXPECT_EQ(https(nullptr, nullptr)->Get("/metrics")->status, 401);
    EXPECT_NE(exporterLog().find("the last good one stays in force"), std::string::npos);
    // A valid file without TLS or users would open the listener: refused until a restart.
    std::ofstream(web) << "# plain HTTP, no login\n";
    const auto stranger = https(nullptr, nullptr)->Get("/metrics");
    EXPECT_TRUE(stranger && stranger->status == 401) << "TLS and the login stay";
    const auto kept = https("prometheus", "lab-password")->Get("/metrics");
    ASSERT_TRUE(kept);
    EXPECT_NE(kept->body.find("corvane_exporter_web_config_last_reload_successful 0\n"),
              std::string::npos);
    EXPECT_FALSE(exporter.client().Get("/metrics")) << "a TLS listener never turns plain";
    EXPECT_EQ(exporter.stop(), 0);
}

// Debian's prometheus finds the modules through /targets and scrapes them through /probe,
// relabelled as in the shipped example.
TEST_F(ExporterLab, RealPrometheus) {
    if (std::system("command -v prometheus >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "prometheus is missing (scripts/setup-packages installs it)";
    }
    writeSettings({11, 13, 14});
    ExporterProcess exporter;
    startExporter(exporter, {});
    const int prometheusPort = freeLoopbackPort();
    const std::string exporterAddress = "127.0.0.1:" + std::to_string(exporter.port());
    std::ofstream(m_folder / "prometheus.yml")
        << "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
           "scrape_configs:\n"
           "  - job_name: corvane\n    metrics_path: /probe\n"
           "    http_sd_configs:\n      - url: http://"
        << exporterAddress
        << "/targets\n"
           "        refresh_interval: 1s\n"
           "    relabel_configs:\n"
           "      - source_labels: [__address__]\n        target_label: __param_target\n"
           "      - source_labels: [__param_target]\n        target_label: instance\n"
           "      - target_label: __address__\n        replacement: "
        << exporterAddress << "\n";
    const std::string command =
        "exec prometheus --config.file=" + (m_folder / "prometheus.yml").string() +
        " --storage.tsdb.path=" + (m_folder / "data").string() +
        " --web.listen-address=127.0.0.1:" + std::to_string(prometheusPort) + " >" +
        (m_folder / "prometheus.log").string() + " 2>&1";
    pid_t prometheus = -1;
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    ASSERT_EQ(
        posix_spawn(&prometheus, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ),
        0);
    std::map<std::string, std::string> seen;
    const std::map<std::string, std::string> wanted = {{ip(11), "1"}, {ip(13), "1"}, {ip(14), "0"}};
    httplib::Client api("127.0.0.1", prometheusPort);
    const auto deadline = Clock::now() + std::chrono::seconds(45);
    std::string answer;
    while (seen != wanted && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const auto result = api.Get("/api/v1/query?query=corvane_probe_success");
        if (!result || result->status != 200) {
            answer = result ? result->body : httplib::to_string(result.error());
            continue;
        }
        answer = result->body;
        seen.clear();
        const Json parsed = Json::parse(result->body, nullptr, false);
        if (parsed.is_discarded()) {
            continue;
        }
        for (const Json& sample : parsed["data"]["result"]) {
            seen[sample["metric"]["instance"].get<std::string>()] =
                sample["value"][1].get<std::string>();
        }
    }
    kill(prometheus, SIGTERM);
    waitpid(prometheus, nullptr, 0);
    EXPECT_EQ(seen, wanted) << answer << "\n" << readWholeFile(m_folder / "prometheus.yml");
    EXPECT_EQ(exporter.stop(), 0);
}

}  // namespace
}  // namespace corvane::lab
