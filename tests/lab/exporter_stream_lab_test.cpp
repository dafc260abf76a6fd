// corvane_exporter's /probe?module=stream against simulated modules sending real streams
// (corvane-modsim --streams on): a clean stream's metrics, continuity errors rising on a
// module that drops datagrams, nothing for a stopped output, and no group joined that a
// module's status does not name, whatever the URL says (the kernel's own list of joined
// groups is read).
#include <cstdio>
#include <future>

#include "lab/exporter_fixture.h"

namespace corvane::lab {
namespace {

using Clock = std::chrono::steady_clock;

// The value of the sample `series` (name and labels as written) in `text`, or NaN.
double sample(const std::string& text, const std::string& series) {
    const std::string head = "\n" + series + " ";
    const auto at = ("\n" + text).find(head);
    return at == std::string::npos ? std::nan("")
                                   : std::strtod(text.c_str() + at + head.size() - 1, nullptr);
}

// The groups this namespace has joined, as /proc/net/igmp writes them (hex of the
// address's bytes in memory order).
std::string joinedGroups() {
    std::ifstream in("/proc/net/igmp");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string igmpHex(const std::string& group) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", storedIpv4(group));
    return hex;
}

class ExporterStreamLab : public ExporterLabTest {
protected:
    void SetUp() override {
        ExporterLabTest::SetUp();
        if (!ready()) {
            return;
        }
        // 1 clean (RTP), 2 drops 5 datagrams a second (bare UDP), 3 stopped, 4 runs and
        // is never asked for with module=stream.
        const std::string rack = "mac=02:00:00:00:08:01 ip=" + moduleText(1) +
                                 " protocol=1 mode=3 dest=239.77.3.1 port=7001\n"
                                 "mac=02:00:00:00:08:02 ip=" +
                                 moduleText(2) +
                                 " protocol=2 mode=3 dest=239.77.3.2 port=7002 stream-drop=5\n"
                                 "mac=02:00:00:00:08:03 ip=" +
                                 moduleText(3) +
                                 " protocol=1 mode=0 dest=239.77.3.3 port=7003\n"
                                 "mac=02:00:00:00:08:04 ip=" +
                                 moduleText(4) + " protocol=1 mode=3 dest=239.77.3.4 port=7004\n";
        startModsim(m_modsim, {"--streams", "on"}, rack);
        replaceFile(
            settingsPath().filename().string(),
            "[Config]\nLocalIP=" + storedSetting(segment().programAddress) + "\n[List]\nTotal=0\n");
        startExporter(m_exporter, {"--from", segment().programAddress});
    }
    void TearDown() override {
        m_exporter.stop();
        ExporterLabTest::TearDown();
    }

    // The stream probe of module `n` (with `extra` URL parameters): its body and seconds.
    std::pair<std::string, double> probe(std::uint32_t n, const std::string& extra = "") {
        httplib::Client client = m_exporter.client();
        const auto start = Clock::now();
        const auto result = client.Get("/probe?target=" + moduleText(n) + "&module=stream" + extra);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_TRUE(result && result->status == 200);
        return {result ? result->body : "", seconds};
    }

    ModsimProcess m_modsim;
    ExporterProcess m_exporter;
};

TEST_F(ExporterStreamLab, CleanStreamAndContinuityErrorsRising) {
    // The lossy module's first measurement runs beside the clean one's.
    auto lossyFirst = std::async(std::launch::async, [this] { return probe(2).first; });
    const auto [first, firstSeconds] = probe(1);
    EXPECT_GT(firstSeconds, 2.0) << "the first probe measures until its deadline";
    const std::string at = "{destination=\"239.77.3.1:7001\"";
    EXPECT_EQ(sample(first, "corvane_stream_up" + at + "}"), 1) << first;
    EXPECT_NEAR(sample(first, "corvane_stream_bitrate_bits_per_second" + at + ",kind=\"total\"}"),
                2e6, 2e6 * 0.03);
    for (const char* indicator : {"ts_sync_loss", "sync_byte_error", "pat_error",
                                  "continuity_count_error", "pmt_error", "pid_error"}) {
        EXPECT_EQ(
            sample(first, "corvane_stream_errors_total" + at + ",indicator=\"" + indicator + "\"}"),
            0)
            << indicator;
    }
    EXPECT_EQ(sample(first, "corvane_stream_rtp_lost_packets_total" + at + "}"), 0);
    EXPECT_EQ(sample(first, "corvane_stream_only_stuffing" + at + "}"), 0);
    EXPECT_EQ(sample(first, "corvane_stream_service_info" + at +
                                ",program=\"1\",pmt_pid=\"256\",pcr_pid=\"257\"}"),
              1)
        << first;
    const auto [again, againSeconds] = probe(1);
    EXPECT_LT(againSeconds, 1.0) << "a later probe reads the running counters at once";
    EXPECT_EQ(sample(again, "corvane_stream_up" + at + "}"), 1);

    const std::string lossy =
        "corvane_stream_errors_total{destination=\"239.77.3.2:7002\",indicator="
        "\"continuity_count_error\"}";
    const double before = sample(lossyFirst.get(), lossy);
    EXPECT_GT(before, 0);
    // Five datagrams a second are dropped: within 5 s the count has risen.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    double after = before;
    while (!(after > before) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        after = sample(probe(2).first, lossy);
    }
    EXPECT_GT(after, before) << "the counter keeps rising while datagrams are dropped";
}

TEST_F(ExporterStreamLab, StoppedOutputAndGroupsNoStatusNames) {
    const std::string stopped = probe(3).first;
    EXPECT_EQ(sample(stopped, "corvane_output_running"), 0) << stopped;
    EXPECT_EQ(stopped.find("corvane_stream_"), std::string::npos) << stopped;
    // Module 4's group, named every way a URL could, is never joined; module 1's is.
    const std::string other = "239.77.3.4:7004";
    const std::string named =
        probe(1, "&group=" + other + "&destination=" + other + "&source=" + moduleText(4)).first;
    EXPECT_EQ(sample(named, "corvane_stream_up{destination=\"239.77.3.1:7001\"}"), 1) << named;
    EXPECT_EQ(named.find("239.77.3.4"), std::string::npos);
    const auto unknown = m_exporter.client().Get("/probe?target=" + moduleText(1) + "&module=icmp");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 400) << "an unknown module is refused, not taken as status";
    const std::string groups = joinedGroups();
    EXPECT_NE(groups.find(igmpHex("239.77.3.1")), std::string::npos) << groups;
    EXPECT_EQ(groups.find(igmpHex("239.77.3.4")), std::string::npos) << groups;
    EXPECT_EQ(groups.find(igmpHex("239.77.3.3")), std::string::npos) << "a stopped output";
}

}  // namespace
}  // namespace corvane::lab
