#include "cli/json_lines.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace corvane::cli {
namespace {

// Deeper than any value of a site file.
constexpr std::size_t kDeepest = 16;

// A walk over a well-formed JSON text that notes the line where each value starts.
class LineWalk {
public:
    explicit LineWalk(const std::string& text) : m_text(text) {}

    std::map<JsonPath, int> run() {
        JsonPath path;
        value(path);
        return std::move(m_lines);
    }

private:
    bool more() const { return m_at < m_text.size(); }

    void skipSpace() {
        while (more() && std::isspace(static_cast<unsigned char>(m_text[m_at]))) {
            m_line += m_text[m_at] == '\n' ? 1 : 0;
            ++m_at;
        }
    }

    std::string string() {
        std::string text;
        for (++m_at; more() && m_text[m_at] != '"'; ++m_at) {
            m_at += m_text[m_at] == '\\' ? 1 : 0;  // the escaped character is kept as is
            if (more()) {
                text += m_text[m_at];
            }
        }
        ++m_at;
        return text;
    }

    // The members of an object or the elements of an array, up to `close`.
    void members(JsonPath& path, char close) {
        ++m_at;
        for (std::size_t index = 0; more(); ++index) {
            skipSpace();
            if (!more() || m_text[m_at] == close) {
                break;
            }
            std::string name = std::to_string(index);
            if (close == '}') {
                name = string();
                skipSpace();
                ++m_at;  // ':'
            }
            path.push_back(name);
            value(path);
            path.pop_back();
            skipSpace();
            if (more() && m_text[m_at] == ',') {
                ++m_at;
            }
        }
        ++m_at;
    }

    // A container deeper than any site file goes: passed over without recursion, so
    // that a document nested a million deep cannot exhaust the stack.
    void skipContainer() {
        std::size_t depth = 0;
        do {
            const char c = m_text[m_at];
            if (c == '"') {
                string();
                continue;
            }
            depth += c == '{' || c == '[' ? 1 : 0;
            depth -= (c == '}' || c == ']') && depth > 0 ? 1 : 0;
            m_line += c == '\n' ? 1 : 0;
            ++m_at;
        } while (more() && depth > 0);
    }

    void value(JsonPath& path) {
        skipSpace();
        if (!more()) {
            return;
        }
        m_lines.emplace(path, m_line);
        const char c = m_text[m_at];
        if ((c == '{' || c == '[') && path.size() >= kDeepest) {
            skipContainer();
        } else if (c == '{' || c == '[') {
            members(path, c == '{' ? '}' : ']');
        } else if (c == '"') {
            string();
        } else {
            while (more() &&
                   std::string_view(",]} \t\r\n").find(m_text[m_at]) == std::string::npos) {
                ++m_at;
            }
        }
    }

    const std::string& m_text;
    std::size_t m_at = 0;
    int m_line = 1;
    std::map<JsonPath, int> m_lines;
};

}  // namespace

int lineOfJsonPath(const std::string& text, const JsonPath& path) {
    const std::map<JsonPath, int> lines = LineWalk(text).run();
    for (JsonPath at = path;; at.pop_back()) {
        if (const auto found = lines.find(at); found != lines.end()) {
            return found->second;
        }
        if (at.empty()) {
            return 1;
        }
    }
}

int lineOfOffset(const std::string& text, std::size_t offset) {
    const auto end = text.begin() + static_cast<std::ptrdiff_t>(std::min(offset, text.size()));
    return 1 + static_cast<int>(std::count(text.begin(), end, '\n'));
}

std::string jsonPathText(const JsonPath& path) {
    std::string text;
    for (const std::string& part : path) {
        const bool index = !part.empty() && std::all_of(part.begin(), part.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        });
        text += index ? "[" + part + "]" : (text.empty() ? "" : ".") + part;
    }
    return text.empty() ? "the document" : text;
}

}  // namespace corvane::cli
