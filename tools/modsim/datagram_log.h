// One JSON line per received datagram, flushed as it is written, so that a test can
// read the exact bytes the program sent while the simulator is still running.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace corvane::modsim {

struct LoggedDatagram {
    double timeMs = 0;  // CLOCK_MONOTONIC in milliseconds, the clock of std::chrono::steady_clock
    std::uint32_t sourceIp = 0;  // host order
    std::uint16_t sourcePort = 0;
    std::uint32_t destinationIp = 0;
    std::uint16_t destinationPort = 0;
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
};

class DatagramLog {
public:
    DatagramLog() = default;
    DatagramLog(const DatagramLog&) = delete;
    DatagramLog& operator=(const DatagramLog&) = delete;
    ~DatagramLog();

    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return m_file != nullptr; }
    void write(const LoggedDatagram& datagram);

private:
    std::FILE* m_file = nullptr;
    bool m_reportedError = false;
};

std::string formatLogLine(const LoggedDatagram& datagram);

}  // namespace corvane::modsim
