#include "exporter/exporter_log.h"

#include <cstdio>
#include <ctime>
#include <iterator>

namespace corvane::exporter {
namespace {

std::mutex g_logMutex;  // lines from the HTTP threads and the prober never interleave

const char* levelName(LogLevel level) {
    switch (level) {
        case LogLevel::info:
            return "info";
        case LogLevel::warn:
            return "warn";
        case LogLevel::error:
            return "error";
    }
    return "info";
}

void appendHex(std::string& out, const char* prefix, unsigned value, int digits) {
    char text[8];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    out += prefix;
    out += text;
}

// The length of the UTF-8 sequence at `at` (0 when it is not one), and its code point.
std::size_t utf8Sequence(std::string_view text, std::size_t at, char32_t& point) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                               : lead >= 0xE0                 ? (lead < 0xF0 ? 3 : 0)
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                                                              : 0;
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    point = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        point = (point << 6) | (byte(at + i) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool valid =
        point >= least[length] && point <= 0x10FFFF && (point < 0xD800 || point > 0xDFFF);
    return valid ? length : 0;
}

}  // namespace

std::string escapeLogText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '"':
                case '\\':
                    out += '\\';
                    out += static_cast<char>(c);
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        appendHex(out, "\\x", c, 2);
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        char32_t point = 0;
        const std::size_t length = utf8Sequence(text, i, point);
        if (length == 0) {
            appendHex(out, "\\x", c, 2);
            ++i;
        } else if (point < 0xA0) {
            appendHex(out, "\\u", static_cast<unsigned>(point), 4);  // a C1 control
            i += length;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

void logLine(LogLevel level, std::string_view message) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    const std::string quoted = escapeLogText(message);
    const std::lock_guard lock(g_logMutex);
    // A log that cannot be written has nowhere to say so.
    std::fprintf(stderr, "ts=%s.%03lldZ caller=corvane_exporter level=%s msg=\"%s\"\n", stamp,
                 static_cast<long long>(millis), levelName(level), quoted.c_str());
}

RefusalLog::RefusalLog(std::chrono::seconds interval, std::size_t mostClients)
    : m_interval(interval), m_mostClients(mostClients) {}

std::string RefusalLog::admit(const std::string& client, std::string_view reason,
                              std::string_view detail, Clock::time_point now) {
    const std::lock_guard lock(m_mutex);
    auto key = std::make_pair(client, std::string(reason));
    auto found = m_entries.find(key);
    if (found != m_entries.end() && now - found->second.logged < m_interval) {
        ++found->second.leftOut;
        return {};
    }
    if (found == m_entries.end() && m_entries.size() >= m_mostClients) {
        // Many clients at once: forget those quiet for an interval; if none is, this
        // one goes unlogged rather than let the table grow without end.
        std::erase_if(m_entries,
                      [&](const auto& entry) { return now - entry.second.logged >= m_interval; });
        if (m_entries.size() >= m_mostClients) {
            return {};
        }
    }
    const std::uint64_t leftOut = found != m_entries.end() ? found->second.leftOut : 0;
    m_entries[std::move(key)] = Entry{now, 0};
    std::string line = std::string(reason) + " from " + client;
    if (!detail.empty()) {
        line += ": " + std::string(detail);
    }
    if (leftOut > 0) {
        line += " (" + std::to_string(leftOut) + " more from this client since the last line)";
    }
    return line;
}

void RefusalLog::refused(const std::string& client, std::string_view reason,
                         std::string_view detail) {
    const std::string line = admit(client, reason, detail, Clock::now());
    if (!line.empty()) {
        logLine(LogLevel::warn, line);
    }
}

RefusalLog& refusalLog() {
    static RefusalLog log;
    return log;
}

}  // namespace corvane::exporter
