// The text format the exporter answers in: escaping, values, and a probe's answer for
// each form of reading, with every family's HELP and TYPE exactly once.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <sstream>

#include "exporter/metrics_text.h"
#include "exporter/probe_report.h"
#include "reports/address_formats.h"

namespace corvane::exporter {
namespace {

TEST(MetricsText, EscapingAndValues) {
    struct Row {
        const char* value;
        const char* label;  // escaped for a label value
        const char* help;   // escaped for HELP
    };
    const Row rows[] = {
        {"plain", "plain", "plain"},
        {"a\\b", "a\\\\b", "a\\\\b"},
        {"say \"hi\"", "say \\\"hi\\\"", "say \"hi\""},
        {"two\nlines", "two\\nlines", "two\\nlines"},
        {"\\\"\n", "\\\\\\\"\\n", "\\\\\"\\n"},
        {"Ünïcode ок", "Ünïcode ок", "Ünïcode ок"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(escapeLabelValue(row.value), row.label);
        EXPECT_EQ(escapeHelp(row.value), row.help);
    }
    // A damaged settings file: what is not UTF-8 becomes U+FFFD, control characters
    // (C0, DEL, C1) the text \u001b, so Prometheus takes the scrape and no terminal obeys.
    const std::pair<std::string, std::string> damaged[] = {
        {"02:C0:\xff\xfe", "02:C0:\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\x1b[31mred", "\\\\u001b[31mred"},
        {"a\tb\x7f", "a\\\\u0009b\\\\u007f"},
        {"csi\xc2\x9b"
         "2J",
         "csi\\\\u009b"
         "2J"},
        {"cut \xe2\x82", "cut \xEF\xBF\xBD"},
        {"overlong \xc0\xaf", "overlong \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate \xed\xa0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"euro \xe2\x82\xac, emoji \xf0\x9f\x93\xba", "euro \xe2\x82\xac, emoji \xf0\x9f\x93\xba"},
        {std::string("nul\0byte", 8), "nul\\\\u0000byte"},
    };
    for (const auto& [value, label] : damaged) {
        EXPECT_EQ(escapeLabelValue(value), label) << value;
    }
    const std::pair<double, const char*> values[] = {
        {0, "0"},
        {1, "1"},
        {64, "64"},
        {0.25, "0.25"},
        {3.002010, "3.00201"},
        {1e-06, "1e-06"},
        {1796721517.77, "1796721517.77"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {std::numeric_limits<double>::infinity(), "+Inf"},
        {-std::numeric_limits<double>::infinity(), "-Inf"},
    };
    for (const auto& [value, text] : values) {
        EXPECT_EQ(formatSampleValue(value), text);
    }

    MetricsText metrics;
    metrics.add("b_total", MetricType::counter, "B\ncounts", 2, {{"result", "x\"y"}});
    metrics.add("a", MetricType::gauge, "A", 1);
    metrics.add("b_total", MetricType::counter, "ignored", 3, {{"result", "z"}, {"k", "v"}});
    metrics.declare("c", MetricType::gauge, "C");
    EXPECT_EQ(metrics.render(),
              "# HELP b_total B\\ncounts\n# TYPE b_total counter\n"
              "b_total{result=\"x\\\"y\"} 2\nb_total{result=\"z\",k=\"v\"} 3\n"
              "# HELP a A\n# TYPE a gauge\na 1\n"
              "# HELP c C\n# TYPE c gauge\n");
}

// The samples of a rendered text by family, after checking that each family's HELP and
// TYPE come once, right before its samples.
std::map<std::string, std::vector<std::string>> samplesByFamily(const std::string& text) {
    std::map<std::string, std::vector<std::string>> families;
    std::istringstream lines(text);
    std::string current;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("# HELP ", 0) == 0) {
            current = line.substr(7, line.find(' ', 7) - 7);
            EXPECT_EQ(families.count(current), 0u) << "HELP twice: " << current;
            families[current];
            continue;
        }
        if (line.rfind("# TYPE ", 0) == 0) {
            EXPECT_EQ(line.substr(7, line.find(' ', 7) - 7), current) << line;
            continue;
        }
        const std::string name = line.substr(0, line.find_first_of("{ "));
        EXPECT_EQ(name, current) << "a sample outside its family: " << line;
        families[current].push_back(line);
    }
    return families;
}

TEST(ProbeReport, EveryFormOfReading) {
    const Ipv4Address ip = Ipv4Address::fromOctets(10, 77, 64, 11);
    StreamSettings single{};
    single.mode = kModeRunning;
    single.protocol = 2;
    single.destinationIp = Ipv4Address::fromOctets(239, 1, 1, 1).networkOrder();
    single.destinationPort = 1234;
    single.flags = kNoStuffingFlag;
    StreamSettings entries{};
    entries.outputCount = 2;
    entries.outputs[0] = {0x1100, Ipv4Address::fromOctets(239, 2, 2, 1).networkOrder(), 5000, 0, 0,
                          {}};
    entries.outputs[1] = {0x1000, Ipv4Address::fromOctets(239, 2, 2, 2).networkOrder(), 5002, 0, 0,
                          {}};
    entries.inputCount = 1;
    entries.inputs[0] = {0x2100, 0, 6000, {}};
    DeviceRecord listed;
    listed.ipAddress = ip;
    listed.macAddress = "02:C0:7A:DE:00:01";
    DeviceRecord other;
    other.ipAddress = Ipv4Address::fromOctets(10, 77, 64, 12);
    const DeviceList list = {other, listed, listed};  // listed twice, at 2 and 3

    using Samples = std::map<std::string, std::vector<std::string>>;
    struct Row {
        const char* name;
        StatusOutcome outcome;
        StreamSettings settings;
        DeviceList list;
        Samples expected;  // corvane_probe_duration_seconds is checked apart
    };
    const Row rows[] = {
        {"single form, listed twice",
         StatusOutcome::answered,
         single,
         list,
         {{"corvane_probe_success", {"corvane_probe_success 1"}},
          {"corvane_output_running", {"corvane_output_running 1"}},
          {"corvane_output_info",
           {"corvane_output_info{protocol=\"UDP\",destination=\"239.1.1.1:1234\","
            "no_stuffing=\"true\"} 1"}},
          {"corvane_module_info",
           {"corvane_module_info{mac=\"02:C0:7A:DE:00:01\",position=\"2\"} 1",
            "corvane_module_info{mac=\"02:C0:7A:DE:00:01\",position=\"3\"} 1"}}}},
        {"entry-list form, not listed",
         StatusOutcome::answered,
         entries,
         {},
         {{"corvane_probe_success", {"corvane_probe_success 1"}},
          {"corvane_output_running", {"corvane_output_running 1"}},
          {"corvane_output_entry_running",
           {"corvane_output_entry_running{entry=\"0\",destination=\"239.2.2.1:5000\"} 1",
            "corvane_output_entry_running{entry=\"1\",destination=\"239.2.2.2:5002\"} 0"}},
          {"corvane_input_entry_info",
           {"corvane_input_entry_info{entry=\"0\",source=\"0.0.0.0:6000\"} 1"}}}},
        {"silent",
         StatusOutcome::timeout,
         {},
         list,
         {{"corvane_probe_success", {"corvane_probe_success 0"}},
          {"corvane_probe_failure_info", {"corvane_probe_failure_info{reason=\"timeout\"} 1"}},
          {"corvane_module_info",
           {"corvane_module_info{mac=\"02:C0:7A:DE:00:01\",position=\"2\"} 1",
            "corvane_module_info{mac=\"02:C0:7A:DE:00:01\",position=\"3\"} 1"}}}},
        {"short reply",
         StatusOutcome::shortReply,
         {},
         {},
         {{"corvane_probe_success", {"corvane_probe_success 0"}},
          {"corvane_probe_failure_info",
           {"corvane_probe_failure_info{reason=\"short_reply\"} 1"}}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StatusReading reading;
        reading.deviceIp = ip;
        reading.outcome = row.outcome;
        reading.settings = row.settings;
        reading.duration = std::chrono::microseconds(1500);
        Samples samples = samplesByFamily(probeMetrics(reading, row.list));
        EXPECT_EQ(samples["corvane_probe_duration_seconds"],
                  std::vector<std::string>{"corvane_probe_duration_seconds 0.0015"});
        samples.erase("corvane_probe_duration_seconds");
        EXPECT_EQ(samples, row.expected);
    }
}

}  // namespace
}  // namespace corvane::exporter
