// The stream watch on a scripted clock, without sockets: a destination is opened by its
// first probe and waited for until that probe's deadline, reused at once afterwards, left
// after 10 minutes nobody asked for it, and refused beyond the cap; the recent figures
// come from the last 10 s, not the whole measurement; and what a probe answers for them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "exporter/stream_report.h"
#include "exporter/stream_watch.h"

namespace corvane::exporter {
namespace {

using namespace std::chrono_literals;

// What the test's streams share with it: how many were opened and closed, and the
// snapshot each one gives.
struct Script {
    int opened = 0;
    int closed = 0;
    StreamSnapshot snapshot;
};

class ScriptedStream final : public WatchedStream {
public:
    explicit ScriptedStream(Script& script) : m_script(script) { ++m_script.opened; }
    ~ScriptedStream() override { ++m_script.closed; }
    int fd() const override { return -1; }
    bool pump(const std::function<StreamTime()>&, std::string&) override { return true; }
    StreamSnapshot snapshot(StreamTime) const override { return m_script.snapshot; }

private:
    Script& m_script;
};

StreamOpener scriptedOpener(Script& script) {
    return [&script](const StreamRequest&, StreamTime, std::string&) {
        return std::make_unique<ScriptedStream>(script);
    };
}

StreamRequest request(const std::string& destination,
                      Ipv4Address module = Ipv4Address::fromOctets(10, 77, 64, 11)) {
    std::string error;
    StreamRequest r;
    r.module = module;
    r.destination = *parseStreamDestination(destination, error);
    return r;
}

const StreamTime t0 = StreamTime{} + 1h;

TEST(StreamWatch, StartedByTheFirstProbeReusedAndLeftWhenNobodyAsks) {
    Script script;
    StreamWatch watch({64, 10min}, scriptedOpener(script));
    const std::vector<StreamRequest> a = {request("239.1.1.1:5000")};
    struct Step {
        const char* what;
        StreamTime at;
        StreamTime deadline;
        StreamTime readyAt;
        int opened;
    };
    const std::vector<Step> steps = {
        {"first probe: opened, waits for its deadline", t0, t0 + 3s, t0 + 3s, 1},
        {"a probe meanwhile waits as long, no second socket", t0 + 1s, t0 + 4s, t0 + 3s, 1},
        {"a probe meanwhile with a shorter deadline waits only that", t0 + 1s, t0 + 2s, t0 + 2s, 1},
        {"a later probe reads at once", t0 + 30s, t0 + 33s, t0 + 30s, 1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const StreamAsk asked = watch.ask(a, step.at, step.deadline);
        EXPECT_EQ(asked.readyAt, step.readyAt);
        EXPECT_EQ(script.opened, step.opened);
        ASSERT_EQ(asked.watched.size(), 1u);
        EXPECT_EQ(watch.read(asked, step.at).at(0).state, StreamState::measured);
    }
    watch.tick(t0 + 30s + 10min - 1ms);
    EXPECT_EQ(watch.watched(), 1u);
    EXPECT_EQ(script.closed, 0);
    watch.tick(t0 + 30s + 10min);
    EXPECT_EQ(watch.watched(), 0u);
    EXPECT_EQ(script.closed, 1) << "the socket is closed: the group is left";
    const StreamAsk again = watch.ask(a, t0 + 20min, t0 + 20min + 3s);
    EXPECT_EQ(script.opened, 2) << "asked again: a fresh measurement";
    EXPECT_EQ(again.readyAt, t0 + 20min + 3s);
}

TEST(StreamWatch, AtMostTheCapWatchedAndTheRestRefused) {
    Script script;
    StreamWatch watch({2, 10min}, scriptedOpener(script));
    const auto a = request("239.1.1.1:5000");
    const auto b = request("239.1.1.2:5000");
    const auto c = request("239.1.1.3:5000");
    StreamAsk asked = watch.ask({a, b, c}, t0, t0 + 3s);
    EXPECT_EQ(script.opened, 2);
    ASSERT_EQ(asked.refused.size(), 1u);
    EXPECT_EQ(asked.refused[0].state, StreamState::overLimit);
    EXPECT_EQ(asked.refused[0].request.destination, c.destination);
    EXPECT_EQ(watch.refusedOverLimit(), 1u);
    // The same group from another module is another destination to watch.
    asked = watch.ask({request("239.1.1.1:5000", Ipv4Address::fromOctets(10, 77, 64, 12))}, t0 + 1s,
                      t0 + 4s);
    EXPECT_EQ(asked.refused.size(), 1u);
    watch.ask({b}, t0 + 5min, t0 + 5min + 3s);
    watch.tick(t0 + 10min);  // a is left, b was asked for since
    EXPECT_EQ(watch.watched(), 1u);
    asked = watch.ask({c}, t0 + 10min, t0 + 10min + 3s);
    EXPECT_TRUE(asked.refused.empty());
    EXPECT_EQ(script.opened, 3);
}

TEST(StreamWatch, DestinationsNotReceivedAndNotHeld) {
    StreamWatch watch({64, 10min},
                      [](const StreamRequest& r, StreamTime,
                         std::string& error) -> std::unique_ptr<WatchedStream> {
                          error = "cannot join " + r.destination.text();
                          return nullptr;
                      });
    const StreamAsk asked = watch.ask({request("239.1.1.1:5000")}, t0, t0 + 3s);
    ASSERT_EQ(asked.refused.size(), 1u);
    EXPECT_EQ(asked.refused[0].state, StreamState::cannotReceive);
    EXPECT_EQ(asked.refused[0].problem, "cannot join 239.1.1.1:5000");
    EXPECT_EQ(asked.readyAt, t0) << "nothing to wait for";
    EXPECT_EQ(watch.watched(), 0u);
    const Ipv4Address group = request("239.1.1.1:1").destination.address;
    const Ipv4Address own = request("10.77.0.1:1").destination.address;
    struct Row {
        StreamDestination destination;
        bool received;
    };
    const std::vector<Row> rows = {
        {{group, 5000, {}}, true}, {{own, 5000, {}}, true},  {{group, 9100, {}}, true},
        {{own, 9100, {}}, false},  {{own, 9101, {}}, false}, {{{}, 5000, {}}, false},
        {{group, 0, {}}, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(destinationProblem(row.destination).empty(), row.received)
            << row.destination.text();
    }
}

// A stream whose socket becomes readable and then fails, on the real receive thread.
class FailingStream final : public WatchedStream {
public:
    FailingStream(int fd, Script& script) : m_fd(fd), m_script(script) { ++m_script.opened; }
    int fd() const override { return m_fd; }
    bool pump(const std::function<StreamTime()>&, std::string& error) override {
        error = "239.1.1.1:5000: receiving failed: Network is down";
        return false;
    }
    StreamSnapshot snapshot(StreamTime) const override { return {}; }

private:
    int m_fd;
    Script& m_script;
};

TEST(StreamWatch, ReceivingThatFailsIsReportedAndStartedAfresh) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    Script script;
    StreamWatch watch({64, 10min}, [&](const StreamRequest&, StreamTime, std::string&) {
        return std::make_unique<FailingStream>(fds[0], script);
    });
    watch.start();
    const std::vector<StreamRequest> a = {request("239.1.1.1:5000")};
    const StreamAsk asked = watch.ask(a, StreamClock::now(), StreamClock::now());
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    StreamReading reading;
    const auto until = StreamClock::now() + 10s;
    do {
        std::this_thread::sleep_for(10ms);
        reading = watch.read(asked, StreamClock::now()).at(0);
    } while (reading.state == StreamState::measured && StreamClock::now() < until);
    EXPECT_EQ(reading.state, StreamState::receiveFailed);
    EXPECT_EQ(reading.problem, "239.1.1.1:5000: receiving failed: Network is down");
    EXPECT_EQ(streamMetrics({reading}),
              "# HELP corvane_stream_unwatched_info A running output's destination that is not "
              "measured here, and why: over_limit (--stream.max-destinations), cannot_receive or "
              "receive_failed.\n# TYPE corvane_stream_unwatched_info gauge\n"
              "corvane_stream_unwatched_info{destination=\"239.1.1.1:5000\",reason=\"receive_"
              "failed\"} 1\n");
    watch.ask(a, StreamClock::now(), StreamClock::now());
    EXPECT_EQ(script.opened, 2) << "the next probe starts it afresh";
    watch.stop();
    ::close(fds[0]);
    ::close(fds[1]);
}

StreamSnapshot counted(std::uint64_t packets, std::uint64_t nulls, double sinceLastMs) {
    StreamSnapshot s;
    s.arrived = packets > 0;
    s.packets = packets;
    s.pids = {{0x100, packets - nulls, 0, 0}, {0x1FFF, nulls, 0, 0}};
    s.sinceLastDatagramMs = sinceLastMs;
    s.bitrate = 2e6;
    s.netBitrate = 1.5e6;
    return s;
}

// A second's worth of 2 Mbit/s: 1330 packets.
// 2 Mbit/s is about 1330 packets a second: a programme of 1000 of them for 30 s, then
// only null packets; read along the way.
TEST(StreamWindow, RecentFiguresNotTheWholeMeasurement) {
    const auto at = [](int second, double sinceLastMs = 5) {
        const std::uint64_t programme = std::min(second, 30) * 1000;
        return counted(second * 1330, second * 1330 - programme, sinceLastMs);
    };
    struct Row {
        const char* what;
        int second;
        StreamSnapshot snapshot;
        RecentFigures expected;
    };
    const double total = 1330 * 1504.0;
    const std::vector<Row> rows = {
        {"young: the measurement's own figures", 5, at(5), {true, 2e6, 1.5e6, false}},
        {"the programme flows", 25, at(25), {true, total, 1000 * 1504.0, false}},
        {"stuffing since 5 s: not only stuffing yet",
         35,
         at(35),
         {true, total, 500 * 1504.0, false}},
        {"only stuffing for the last 10 s", 60, at(60), {true, total, 0, true}},
        {"nothing for 2.5 s", 60, at(60, 2500), {false, total, 0, true}},
    };
    StreamWindow window;
    int sampled = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        for (; sampled <= row.second; ++sampled) {
            window.sample(t0 + std::chrono::seconds(sampled), at(sampled));
        }
        const RecentFigures f = window.figures(t0 + std::chrono::seconds(row.second), row.snapshot);
        EXPECT_EQ(f.up, row.expected.up);
        EXPECT_NEAR(f.bitrate, row.expected.bitrate, 1);
        EXPECT_NEAR(f.netBitrate, row.expected.netBitrate, 1);
        EXPECT_EQ(f.onlyStuffing, row.expected.onlyStuffing);
    }
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

TEST(StreamReport, RunningOutputsAndTheirMetrics) {
    const Ipv4Address kModule = Ipv4Address::fromOctets(7, 0, 0, 0);
    StreamSettings single;
    single.mode = kModeRunning;
    single.protocol = 2;
    single.destinationIp = request("239.1.1.1:5000").destination.address.networkOrder();
    single.destinationPort = 5000;
    ASSERT_EQ(runningOutputs(kModule, single).size(), 1u);
    EXPECT_EQ(runningOutputs(kModule, single)[0].protocol, StreamProtocol::udp);
    EXPECT_EQ(runningOutputs(kModule, single)[0].module, kModule);
    single.mode = kModeStopped;
    EXPECT_TRUE(runningOutputs(kModule, single).empty());
    StreamSettings list;
    list.outputCount = 3;
    list.outputs[0] = {0x1100, single.destinationIp, 6001, 0, 0x0100, {}};
    list.outputs[1] = {0x1000, single.destinationIp, 6002, 0, 0x0200, {}};  // stopped
    list.outputs[2] = {0x1100, single.destinationIp, 6003, 0, 0x1200, {}};
    const auto outputs = runningOutputs(kModule, list);
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0].destination.port, 6001);
    EXPECT_EQ(outputs[0].protocol, StreamProtocol::rtp);
    EXPECT_EQ(outputs[1].destination.port, 6003);
    EXPECT_EQ(outputs[1].protocol, StreamProtocol::udp);

    EXPECT_EQ(streamMetrics({}), "") << "no running output: no stream metrics";
    StreamReading measured;
    measured.request = outputs[0];
    measured.snapshot.errors.continuityCountError = 4;
    measured.snapshot.rtpLost = 3;
    measured.snapshot.services = {{1, 0x1000, 0x101, {}}, {2, 0x1010, std::nullopt, {}}};
    measured.recent = {true, 2e6, 1.5e6, false};
    StreamReading refused;
    refused.request = outputs[1];
    refused.state = StreamState::overLimit;
    const std::string text = streamMetrics({measured, refused});
    for (const char* family :
         {"corvane_stream_up", "corvane_stream_bitrate_bits_per_second",
          "corvane_stream_only_stuffing", "corvane_stream_errors_total",
          "corvane_stream_rtp_lost_packets_total", "corvane_stream_socket_drops_total",
          "corvane_stream_service_info", "corvane_stream_unwatched_info"}) {
        EXPECT_EQ(count(text, std::string("# HELP ") + family + " "), 1u) << family;
        EXPECT_EQ(count(text, std::string("# TYPE ") + family + " "), 1u) << family;
    }
    const std::string at = "destination=\"239.1.1.1:6001\"";
    for (const std::string& line :
         {"corvane_stream_up{" + at + "} 1",
          "corvane_stream_bitrate_bits_per_second{" + at + ",kind=\"total\"} 2e+06",
          "corvane_stream_bitrate_bits_per_second{" + at + ",kind=\"net\"} 1500000",
          "corvane_stream_errors_total{" + at + ",indicator=\"continuity_count_error\"} 4",
          "corvane_stream_errors_total{" + at + ",indicator=\"ts_sync_loss\"} 0",
          "corvane_stream_rtp_lost_packets_total{" + at + "} 3",
          "corvane_stream_service_info{" + at +
              ",program=\"1\",pmt_pid=\"4096\",pcr_pid=\"257\"} 1",
          "corvane_stream_service_info{" + at + ",program=\"2\",pmt_pid=\"4112\",pcr_pid=\"\"} 1",
          std::string("corvane_stream_unwatched_info{destination=\"239.1.1.1:6003\","
                      "reason=\"over_limit\"} 1")}) {
        EXPECT_EQ(count(text, line + "\n"), 1u) << line << "\n" << text;
    }
    EXPECT_EQ(count(text, "corvane_stream_errors_total{"), 6u);
    EXPECT_EQ(count(text, "6003\",kind"), 0u) << "nothing measured for a refused destination";
}

}  // namespace
}  // namespace corvane::exporter
