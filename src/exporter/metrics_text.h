// Prometheus's text exposition format (version 0.0.4), the form of every answer of the
// exporter's /probe and /metrics. Families are written in the order they were first
// named, each with its HELP and TYPE lines once, whatever order their samples came in.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::exporter {

inline constexpr char kTextFormatContentType[] = "text/plain; version=0.0.4; charset=utf-8";

enum class MetricType { gauge, counter };

using Label = std::pair<std::string, std::string>;  // name, value

class MetricsText {
public:
    // Adds one sample to the family `name`, which is made with `type` and `help` the
    // first time it is named.
    void add(std::string_view name, MetricType type, std::string_view help, double value,
             std::vector<Label> labels = {});

    // An empty family still gets its HELP and TYPE lines (a counter that never moved).
    void declare(std::string_view name, MetricType type, std::string_view help);

    std::string render() const;

private:
    struct Sample {
        std::vector<Label> labels;
        double value = 0;
    };
    struct Family {
        std::string name;
        MetricType type = MetricType::gauge;
        std::string help;
        std::vector<Sample> samples;
    };

    Family& family(std::string_view name, MetricType type, std::string_view help);

    std::vector<Family> m_families;
};

// A label value as the format wants it between double quotes: backslash, double quote and
// line feed escaped as \\, \" and \n; a byte that is not UTF-8 (a damaged settings file)
// replaced with U+FFFD, which Prometheus accepts; any other control character (C0, DEL,
// C1) written as the text \u001b.
std::string escapeLabelValue(std::string_view value);

// HELP text: backslash and line feed escaped.
std::string escapeHelp(std::string_view help);

// A sample value: the shortest decimal that reads back as the same double ("1", "0.25",
// "1e-06"), or "NaN", "+Inf", "-Inf".
std::string formatSampleValue(double value);

}  // namespace corvane::exporter
