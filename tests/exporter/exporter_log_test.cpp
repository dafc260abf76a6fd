// The exporter's log: one event is one line whatever a client sends, and a client that
// keeps being refused is logged once per interval.
#include <gtest/gtest.h>

#include "exporter/exporter_log.h"

namespace corvane::exporter {
namespace {

TEST(ExporterLog, EscapesWhatCouldBreakALineOrATerminal) {
    const std::pair<std::string, std::string> rows[] = {
        {"plain /probe?target=10.1.2.3", "plain /probe?target=10.1.2.3"},
        {"a\r\nlevel=error msg=\"forged\"", "a\\r\\nlevel=error msg=\\\"forged\\\""},
        {"tab\tbell\a esc\x1b[2J del\x7f", "tab\\tbell\\x07 esc\\x1B[2J del\\x7F"},
        {"back\\slash", "back\\\\slash"},
        {"csi \xc2\x9b"
         "31m",
         "csi \\u009B31m"},                                        // C1 control in UTF-8
        {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},  // é and € stay
        {"bad \xff\xc3 end", "bad \\xFF\\xC3 end"},                // not UTF-8
        {"overlong \xc0\xaf", "overlong \\xC0\\xAF"},
        {"surrogate \xed\xa0\x80", "surrogate \\xED\\xA0\\x80"},
        {std::string("nul \0 byte", 10), "nul \\x00 byte"},
    };
    for (const auto& [text, escaped] : rows) {
        EXPECT_EQ(escapeLogText(text), escaped) << text;
    }
}

TEST(ExporterLog, RefusalsOncePerClientAndReasonInEachInterval) {
    using std::chrono::seconds;
    RefusalLog log(seconds(60), 3);
    const RefusalLog::Clock::time_point t0{};
    struct Row {
        int at;  // seconds
        const char* client;
        const char* reason;
        const char* line;  // empty: left out
    };
    const Row rows[] = {
        {0, "10.0.0.5", "401 unauthorized", "401 unauthorized from 10.0.0.5: /metrics"},
        {1, "10.0.0.5", "401 unauthorized", ""},
        {2, "10.0.0.5", "401 unauthorized", ""},
        {3, "10.0.0.5", "400 bad request", "400 bad request from 10.0.0.5: /metrics"},
        {4, "10.0.0.6", "401 unauthorized", "401 unauthorized from 10.0.0.6: /metrics"},
        {61, "10.0.0.5", "401 unauthorized",
         "401 unauthorized from 10.0.0.5: /metrics (2 more from this client since the last "
         "line)"},
        // The table is full (3) and nobody has been quiet for an interval: not logged.
        {62, "10.0.0.7", "401 unauthorized", ""},
        // Now 10.0.0.5's 400 and 10.0.0.6 have been quiet long enough to be forgotten.
        {70, "10.0.0.7", "401 unauthorized", "401 unauthorized from 10.0.0.7: /metrics"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.at);
        EXPECT_EQ(log.admit(row.client, row.reason, "/metrics", t0 + seconds(row.at)), row.line);
    }
}

}  // namespace
}  // namespace corvane::exporter
