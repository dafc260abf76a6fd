#include "datagram_log.h"

#include <cerrno>
#include <cstring>

#include "module_config.h"

namespace corvane::modsim {

std::string formatLogLine(const LoggedDatagram& d) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * d.length);
    for (std::size_t i = 0; i < d.length; ++i) {
        hex.push_back(kHex[d.data[i] >> 4]);
        hex.push_back(kHex[d.data[i] & 0x0F]);
    }
    char head[160];
    std::snprintf(head, sizeof head,
                  "{\"t\": %.3f, \"src\": \"%s\", \"sport\": %u, \"dst\": \"%s\", \"dport\": %u, "
                  "\"len\": %zu, \"hex\": \"",
                  d.timeMs, ipv4Text(d.sourceIp).c_str(), unsigned{d.sourcePort},
                  ipv4Text(d.destinationIp).c_str(), unsigned{d.destinationPort}, d.length);
    return head + hex + "\"}\n";
}

DatagramLog::~DatagramLog() {
    if (m_file != nullptr && std::fclose(m_file) != 0) {
        std::fprintf(stderr, "corvane-modsim: closing the log failed: %s\n", std::strerror(errno));
    }
}

bool DatagramLog::open(const std::string& path, std::string& error) {
    m_file = std::fopen(path.c_str(), "w");
    if (m_file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void DatagramLog::write(const LoggedDatagram& datagram) {
    if (m_file == nullptr) {
        return;
    }
    const std::string line = formatLogLine(datagram);
    const bool written = std::fwrite(line.data(), 1, line.size(), m_file) == line.size();
    if ((!written || std::fflush(m_file) != 0) && !m_reportedError) {
        // Reported once: a full disk would otherwise print a line per datagram.
        std::fprintf(stderr, "corvane-modsim: writing the log failed: %s\n", std::strerror(errno));
        m_reportedError = true;
    }
}

}  // namespace corvane::modsim
