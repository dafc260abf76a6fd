#include "streams/stream_monitor.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace corvane {

bool StreamMonitor::start(const StreamDestination& destination, const StreamReceiveOptions& options,
                          StreamTime now, std::string& error) {
    m_measurement.reset();
    if (!m_socket.open(destination, options.localAddress, options.bufferBytes, error)) {
        error = destination.text() + ": " + error;
        return false;
    }
    m_destination = destination;
    m_expectedSource =
        options.expectedSource.isUnspecified() ? destination.source : options.expectedSource;
    m_dropsReported = 0;
    m_measurement.emplace(destination, now, options.measurement);
    return true;
}

bool StreamMonitor::pump(const std::function<StreamTime()>& clock, std::string& error) {
    if (!m_measurement) {
        error = "the measurement has not started";
        return false;
    }
    for (int batch = 0; batch < kStreamBatchesPerPump; ++batch) {
        const int count = m_socket.receiveBatch(error);
        if (count < 0) {
            error = m_destination.text() + ": " + error;
            return false;
        }
        const StreamTime arrival = clock();
        for (int i = 0; i < count; ++i) {
            const ReceivedStreamDatagram& d = m_socket.datagram(static_cast<std::size_t>(i));
            if (!m_expectedSource.isUnspecified() && d.source != m_expectedSource) {
                m_measurement->foreignDatagram();
            } else if (d.truncated) {
                m_measurement->truncatedDatagram(arrival);
            } else {
                m_measurement->datagram(d.data, d.length, arrival);
            }
        }
        // The kernel's counter is cumulative (and 32 bits wide); only its growth counts.
        const auto drops = static_cast<std::uint32_t>(m_socket.kernelDrops());
        const auto grown = static_cast<std::uint32_t>(drops - m_dropsReported);
        m_measurement->socketDrops(grown);
        m_dropsReported = drops;
        if (static_cast<std::size_t>(count) < kStreamBatch) {
            break;
        }
    }
    return true;
}

StreamSnapshot StreamMonitor::snapshot(StreamTime now) const {
    if (!m_measurement) {
        return {};
    }
    StreamSnapshot s = m_measurement->snapshot(now);
    s.receiveBufferBytes = m_socket.grantedBufferBytes();
    return s;
}

bool measureUntil(const std::vector<StreamMonitor*>& monitors, StreamTime until,
                  const std::function<StreamTime()>& clock, std::string& error) {
    std::vector<pollfd> fds;
    for (const StreamMonitor* monitor : monitors) {
        fds.push_back(pollfd{monitor->fd(), POLLIN, 0});
    }
    for (StreamTime now = clock(); now < until; now = clock()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        const int ready = poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            error = std::string("waiting for datagrams failed: ") + std::strerror(errno);
            return false;
        }
        for (std::size_t i = 0; ready > 0 && i < fds.size(); ++i) {
            if (fds[i].revents != 0 && !monitors[i]->pump(clock, error)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace corvane
