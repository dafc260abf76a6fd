// The exporter's log: one line per event on standard error, in the key=value form of
// Prometheus's own exporters, so that journald and log shippers read it as they read
// theirs. Text from the network (a client's address, a path) may carry anything, so a
// line escapes every control character and every byte that is not UTF-8: one event is
// always one line, and a terminal shows it as text.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace corvane::exporter {

enum class LogLevel { info, warn, error };

void logLine(LogLevel level, std::string_view message);

// `text` with `"` and `\` escaped, \n \r \t as such, other C0 controls, DEL and C1
// controls as \xNN or \u00NN, and bytes that are not UTF-8 as \xNN.
std::string escapeLogText(std::string_view text);

// Refusals (401, 400, 503, a failed TLS handshake) logged at warning level once per
// client and reason in each interval, so a client that keeps asking cannot flood the
// log; the next line says how many were left out. The time is a parameter.
class RefusalLog {
public:
    using Clock = std::chrono::steady_clock;

    explicit RefusalLog(std::chrono::seconds interval = std::chrono::seconds(60),
                        std::size_t mostClients = 1024);

    // The line to log for this refusal, or empty when one was logged for this client
    // and reason less than an interval ago.
    std::string admit(const std::string& client, std::string_view reason, std::string_view detail,
                      Clock::time_point now);

    // admit() at the steady clock's now, and the line logged.
    void refused(const std::string& client, std::string_view reason, std::string_view detail);

private:
    struct Entry {
        Clock::time_point logged;
        std::uint64_t leftOut = 0;
    };

    const std::chrono::seconds m_interval;
    const std::size_t m_mostClients;
    std::mutex m_mutex;
    std::map<std::pair<std::string, std::string>, Entry> m_entries;
};

// The process's one refusal log.
RefusalLog& refusalLog();

}  // namespace corvane::exporter
