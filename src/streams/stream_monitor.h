// A stream measured where it lands: the socket and the measurement together. Started
// on a destination, pumped from a receive loop (poll on fd(), then pump), read at any
// time as a snapshot. Not thread-safe: a front end that reads it from another thread
// guards it itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "streams/stream_measurement.h"
#include "streams/stream_socket.h"

namespace corvane {

struct StreamReceiveOptions {
    Ipv4Address localAddress;  // the interface that joins the group
    // Unspecified: the destination's source, if any. A front end that knows which
    // module sends passes the module's address, so that no other sender is counted.
    Ipv4Address expectedSource;
    int bufferBytes = kStreamReceiveBufferBytes;
    StreamMeasurementOptions measurement;
};

// How many batches one pump takes at most before the caller's other streams get a turn.
inline constexpr int kStreamBatchesPerPump = 16;

class StreamMonitor {
public:
    bool start(const StreamDestination& destination, const StreamReceiveOptions& options,
               StreamTime now, std::string& error);
    int fd() const { return m_socket.fd(); }

    // Takes the queued datagrams, each batch stamped with clock() as it is taken.
    // False when the socket failed (`error` says why); the measurement stays readable.
    bool pump(const std::function<StreamTime()>& clock, std::string& error);

    StreamSnapshot snapshot(StreamTime now) const;

private:
    StreamSocket m_socket;
    std::optional<StreamMeasurement> m_measurement;
    StreamDestination m_destination;
    Ipv4Address m_expectedSource;
    std::uint64_t m_dropsReported = 0;
};

// Measures every monitor until `until` on one thread, waiting in poll. False on the
// first socket failure, with the destination and the reason in `error`.
bool measureUntil(const std::vector<StreamMonitor*>& monitors, StreamTime until,
                  const std::function<StreamTime()>& clock, std::string& error);

}  // namespace corvane
