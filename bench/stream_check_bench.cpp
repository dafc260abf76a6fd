// Figures for the stream checks in the network lab. First, what checking costs beside
// only receiving: many simulated streams at once, each batch timed twice in the same
// run (the recvmmsg call, then feeding the measurement), so both figures cover the
// very same datagrams. Then one 200 Mbit/s stream with a large and with a too-small
// receive buffer: the kernel's drops must show as socket drops. Prints a table;
// asserts nothing.
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lab/lab_environment.h"
#include "streams/stream_measurement.h"
#include "streams/stream_socket.h"

using namespace corvane;
using namespace corvane::lab;

namespace {

struct Receiver {
    StreamSocket socket;
    std::unique_ptr<StreamMeasurement> measurement;
};

struct RunFigures {
    double receiveMs = 0;
    double checkMs = 0;
    std::uint64_t datagrams = 0;
    std::uint64_t ccErrors = 0;
    std::uint64_t rtpLost = 0;
    std::uint64_t socketDrops = 0;
    int grantedBuffer = 0;
};

double msSince(StreamTime from) {
    return millisecondsBetween(from, StreamClock::now());
}

std::string rackConfig(const LabSegment& segment, int streams, long rate) {
    std::string config;
    for (int i = 1; i <= streams; ++i) {
        char mac[32];
        std::snprintf(mac, sizeof mac, "02:00:00:00:09:%02x", i);
        config += std::string("mac=") + mac + " ip=" + segment.moduleAddress(i) +
                  " protocol=1 mode=3 dest=239.88.0." + std::to_string(i) +
                  " port=6000 stream-rate=" + std::to_string(rate) + "\n";
    }
    return config;
}

bool openReceivers(std::vector<Receiver>& receivers, const LabSegment& segment, int bufferBytes) {
    for (std::size_t i = 0; i < receivers.size(); ++i) {
        std::string error;
        const auto destination =
            parseStreamDestination("239.88.0." + std::to_string(i + 1) + ":6000", error);
        if (!receivers[i].socket.open(*destination, ipv4Of(segment.programAddress), bufferBytes,
                                      error)) {
            std::fprintf(stderr, "stream_check_bench: %s\n", error.c_str());
            return false;
        }
        StreamMeasurementOptions options;
        options.protocol = StreamProtocol::rtp;
        receivers[i].measurement =
            std::make_unique<StreamMeasurement>(*destination, StreamClock::now(), options);
    }
    return true;
}

// Drains one receiver batch by batch, timing the receive and the checks apart.
void drain(Receiver& r, RunFigures& figures) {
    std::string error;
    for (int batch = 0; batch < 16; ++batch) {
        const StreamTime before = StreamClock::now();
        const int count = r.socket.receiveBatch(error);
        const StreamTime received = StreamClock::now();
        if (count <= 0) {
            return;
        }
        figures.receiveMs += millisecondsBetween(before, received);
        for (int i = 0; i < count; ++i) {
            const auto& d = r.socket.datagram(static_cast<std::size_t>(i));
            r.measurement->datagram(d.data, d.length, received);
        }
        figures.checkMs += msSince(received);
    }
}

RunFigures run(std::vector<Receiver>& receivers, int seconds, int pauseMs) {
    RunFigures figures;
    std::vector<pollfd> fds;
    for (const Receiver& r : receivers) {
        fds.push_back(pollfd{r.socket.fd(), POLLIN, 0});
    }
    const StreamTime until = StreamClock::now() + std::chrono::seconds(seconds);
    while (StreamClock::now() < until) {
        if (poll(fds.data(), fds.size(), 100) < 0) {
            break;
        }
        for (std::size_t i = 0; i < receivers.size(); ++i) {
            if (fds[i].revents != 0) {
                drain(receivers[i], figures);
            }
        }
        if (pauseMs > 0) {  // a computer busy with something else
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
    }
    for (Receiver& r : receivers) {
        r.measurement->socketDrops(r.socket.kernelDrops());
        const StreamSnapshot s = r.measurement->snapshot(StreamClock::now());
        figures.datagrams += s.datagrams;
        figures.ccErrors += s.errors.continuityCountError;
        figures.rtpLost += s.rtpLost;
        figures.socketDrops += s.socketDrops;
        figures.grantedBuffer = r.socket.grantedBufferBytes();
    }
    return figures;
}

bool measureRack(const LabEnvironment& lab, int streams, long rate, int bufferBytes, int pauseMs,
                 RunFigures& figures) {
    ModsimProcess modsim;
    std::string error;
    if (!modsim.start(lab, lab.segments[0], {"--streams", "on"},
                      rackConfig(lab.segments[0], streams, rate), error)) {
        std::fprintf(stderr, "stream_check_bench: %s\n", error.c_str());
        return false;
    }
    std::vector<Receiver> receivers(static_cast<std::size_t>(streams));
    if (!openReceivers(receivers, lab.segments[0], bufferBytes)) {
        return false;
    }
    figures = run(receivers, 5, pauseMs);
    return true;
}

}  // namespace

int main() {
    LabEnvironment lab;
    std::string reason;
    if (!LabEnvironment::load(lab, reason)) {
        std::fprintf(stderr, "stream_check_bench: %s\n", reason.c_str());
        return 77;
    }
    std::printf("## Checking against only receiving (same batches, 5 s)\n\n");
    std::printf(
        "| streams | Mbit/s each | datagrams | receive ms | check ms | (receive + check) / "
        "receive | CC errors | socket drops |\n|---|---|---|---|---|---|---|---|\n");
    for (int streams : {1, 10, 40}) {
        const long rate = 200000000L / streams;
        RunFigures f;
        if (!measureRack(lab, streams, rate, kStreamReceiveBufferBytes, 0, f)) {
            return 1;
        }
        std::printf("| %d | %.1f | %llu | %.1f | %.1f | %.2f | %llu | %llu |\n", streams,
                    static_cast<double>(rate) / 1e6, static_cast<unsigned long long>(f.datagrams),
                    f.receiveMs, f.checkMs,
                    f.receiveMs > 0 ? (f.receiveMs + f.checkMs) / f.receiveMs : 0,
                    static_cast<unsigned long long>(f.ccErrors),
                    static_cast<unsigned long long>(f.socketDrops));
    }
    std::printf("\n## One 200 Mbit/s stream, receiver pausing 20 ms between polls (5 s)\n\n");
    std::printf(
        "| buffer asked | granted | datagrams | CC errors | RTP lost | socket drops "
        "|\n|---|---|---|---|---|---|\n");
    for (int buffer : {kStreamReceiveBufferBytes, 64 * 1024}) {
        RunFigures f;
        if (!measureRack(lab, 1, 200000000L, buffer, 20, f)) {
            return 1;
        }
        std::printf("| %d | %d | %llu | %llu | %llu | %llu |\n", buffer, f.grantedBuffer,
                    static_cast<unsigned long long>(f.datagrams),
                    static_cast<unsigned long long>(f.ccErrors),
                    static_cast<unsigned long long>(f.rtpLost),
                    static_cast<unsigned long long>(f.socketDrops));
    }
    return 0;
}
