#include "exporter/metrics_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace corvane::exporter {

std::string escapeLabelValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string escapeHelp(std::string_view help) {
    std::string out;
    out.reserve(help.size());
    for (const char c : help) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string formatSampleValue(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+Inf" : "-Inf";
    }
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

MetricsText::Family& MetricsText::family(std::string_view name, MetricType type,
                                         std::string_view help) {
    const auto known = std::find_if(m_families.begin(), m_families.end(),
                                    [name](const Family& family) { return family.name == name; });
    if (known != m_families.end()) {
        return *known;
    }
    return m_families.emplace_back(Family{std::string(name), type, std::string(help), {}});
}

void MetricsText::add(std::string_view name, MetricType type, std::string_view help, double value,
                      std::vector<Label> labels) {
    family(name, type, help).samples.push_back(Sample{std::move(labels), value});
}

void MetricsText::declare(std::string_view name, MetricType type, std::string_view help) {
    family(name, type, help);
}

std::string MetricsText::render() const {
    std::string out;
    for (const Family& family : m_families) {
        out += "# HELP " + family.name + " " + escapeHelp(family.help) + "\n";
        out += "# TYPE " + family.name + " " +
               (family.type == MetricType::counter ? "counter" : "gauge") + "\n";
        for (const Sample& sample : family.samples) {
            out += family.name;
            if (!sample.labels.empty()) {
                out += '{';
                for (std::size_t i = 0; i < sample.labels.size(); ++i) {
                    out += (i == 0 ? "" : ",") + sample.labels[i].first + "=\"" +
                           escapeLabelValue(sample.labels[i].second) + "\"";
                }
                out += '}';
            }
            out += " " + formatSampleValue(sample.value) + "\n";
        }
    }
    return out;
}

}  // namespace corvane::exporter
