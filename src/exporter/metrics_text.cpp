#include "exporter/metrics_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

namespace corvane::exporter {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at the start of `text` and its code point;
// for an ill-formed one, the length of its longest valid beginning (at least 1) and no
// code point, so that each ill-formed piece is replaced once.
std::pair<std::size_t, std::optional<char32_t>> decodeUtf8(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return {1, lead};
    }
    std::size_t length = 0;
    char32_t point = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, point = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, point = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return {1, std::nullopt};
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = i < text.size() ? byte(i) : 0;
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) {
            return {i, std::nullopt};
        }
        point = point << 6 | (next & 0x3F);
    }
    return {length, point};
}

bool isControl(char32_t point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F);
}

}  // namespace

std::string escapeLabelValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    while (!value.empty()) {
        const auto [length, point] = decodeUtf8(value);
        if (!point) {
            out += kReplacement;
        } else if (*point == '\\') {
            out += "\\\\";
        } else if (*point == '"') {
            out += "\\\"";
        } else if (*point == '\n') {
            out += "\\n";
        } else if (isControl(*point)) {
            // The format knows no other escape: the control character is written as the
            // text \u001b (its backslash escaped), never raw into a terminal or a parser.
            char text[16];
            std::snprintf(text, sizeof text, "\\\\u%04x", static_cast<unsigned>(*point));
            out += text;
        } else {
            out.append(value.substr(0, length));
        }
        value.remove_prefix(length);
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
