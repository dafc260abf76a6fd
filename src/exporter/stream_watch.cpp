#include "exporter/stream_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "exporter/exporter_log.h"
#include "net/protocol_messages.h"

namespace corvane::exporter {
namespace {

// How long the receive thread waits at most: the samples and the expiry run this often.
constexpr std::chrono::milliseconds kPass{1000};

FileDescriptor makeEventFd() {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    return FileDescriptor(fd);
}

class MonitoredStream : public WatchedStream {
public:
    int fd() const override { return m_monitor.fd(); }
    bool pump(const std::function<StreamTime()>& clock, std::string& error) override {
        return m_monitor.pump(clock, error);
    }
    StreamSnapshot snapshot(StreamTime now) const override { return m_monitor.snapshot(now); }
    StreamMonitor m_monitor;
};

StreamReading refusal(const StreamRequest& request, StreamState state, std::string problem) {
    StreamReading reading;
    reading.request = request;
    reading.state = state;
    reading.problem = std::move(problem);
    return reading;
}

}  // namespace

std::string destinationProblem(const StreamDestination& destination) {
    if (destination.address.isUnspecified() || destination.port == 0) {
        return "the status names no destination (" + destination.text() + ")";
    }
    // A socket there would share the ports the status reads and searches receive on, and
    // could take their replies: a module's status must not be able to do that.
    if (!destination.isMulticast() &&
        (destination.port == kDevicePortA || destination.port == kDevicePortB)) {
        return destination.text() + " is a port the exporter reads the modules' status on";
    }
    return {};
}

StreamOpener monitorOpener(Ipv4Address localAddress) {
    return [localAddress](const StreamRequest& request, StreamTime now,
                          std::string& error) -> std::unique_ptr<WatchedStream> {
        error = destinationProblem(request.destination);
        if (!error.empty()) {
            return nullptr;
        }
        StreamReceiveOptions options;
        options.localAddress = localAddress;
        options.expectedSource = request.module;
        options.measurement.protocol = request.protocol;
        auto stream = std::make_unique<MonitoredStream>();
        if (!stream->m_monitor.start(request.destination, options, now, error)) {
            return nullptr;
        }
        return stream;
    };
}

StreamWatch::StreamWatch(StreamWatchOptions options, StreamOpener opener,
                         std::function<StreamTime()> clock)
    : m_options(options),
      m_opener(std::move(opener)),
      m_clock(std::move(clock)),
      m_wakeFd(makeEventFd()) {}

StreamWatch::~StreamWatch() {
    stop();
}

void StreamWatch::start() {
    m_thread = std::thread([this] { run(); });
}

void StreamWatch::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void StreamWatch::wake() {
    const std::uint64_t one = 1;
    // Fails only when the counter would overflow (EAGAIN), and then it is readable anyway.
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFd.get(), &one, sizeof one);
}

std::size_t StreamWatch::watched() const {
    const std::lock_guard lock(m_mutex);
    return m_entries.size();
}

std::shared_ptr<StreamWatch::Entry> StreamWatch::open(const StreamRequest& request, StreamTime now,
                                                      StreamTime deadline, std::string& error) {
    auto entry = std::make_shared<Entry>();
    entry->stream = m_opener(request, now, error);
    if (entry->stream == nullptr) {
        return nullptr;
    }
    entry->lastAsked = now;
    entry->readyAt = deadline;
    entry->window.sample(now, entry->stream->snapshot(now));
    return entry;
}

StreamAsk StreamWatch::ask(const std::vector<StreamRequest>& requests, StreamTime now,
                           StreamTime deadline) {
    StreamAsk asked;
    asked.readyAt = now;
    bool added = false;
    const std::lock_guard lock(m_mutex);
    for (const StreamRequest& request : requests) {
        auto found = m_entries.find(request.key());
        // A stream whose receiving failed starts afresh.
        if (found != m_entries.end() && !found->second->failure.empty()) {
            m_entries.erase(found);
            found = m_entries.end();
        }
        if (found == m_entries.end() && m_entries.size() >= m_options.maxDestinations) {
            ++m_overLimit;
            asked.refused.push_back(refusal(request, StreamState::overLimit,
                                            "more than " +
                                                std::to_string(m_options.maxDestinations) +
                                                " destinations would be watched at once"));
            continue;
        }
        if (found == m_entries.end()) {
            std::string error;
            auto entry = open(request, now, deadline, error);
            if (entry == nullptr) {
                asked.refused.push_back(refusal(request, StreamState::cannotReceive, error));
                continue;
            }
            found = m_entries.emplace(request.key(), std::move(entry)).first;
            added = true;
        }
        found->second->lastAsked = std::max(found->second->lastAsked, now);
        asked.readyAt = std::max(asked.readyAt, std::min(found->second->readyAt, deadline));
        asked.watched.push_back(request);
    }
    if (added) {
        wake();
    }
    return asked;
}

std::vector<StreamReading> StreamWatch::read(const StreamAsk& asked, StreamTime now) {
    std::vector<StreamReading> readings = asked.refused;
    for (const StreamRequest& request : asked.watched) {
        std::shared_ptr<Entry> entry;
        {
            const std::lock_guard lock(m_mutex);
            const auto found = m_entries.find(request.key());
            if (found != m_entries.end()) {
                entry = found->second;
            }
        }
        StreamReading reading;
        reading.request = request;
        if (entry == nullptr) {  // left meanwhile: only when the watch stops
            reading.state = StreamState::receiveFailed;
            reading.problem = "the watch has stopped";
        } else {
            const std::lock_guard lock(entry->mutex);
            reading.snapshot = entry->stream->snapshot(now);
            reading.recent = entry->window.figures(now, reading.snapshot);
            if (!entry->failure.empty()) {
                reading.state = StreamState::receiveFailed;
                reading.problem = entry->failure;
            }
        }
        readings.push_back(std::move(reading));
    }
    return readings;
}

std::vector<StreamReading> StreamWatch::measure(const std::vector<StreamRequest>& requests,
                                                StreamTime deadline) {
    const StreamAsk asked = ask(requests, m_clock(), deadline);
    if (asked.readyAt > m_clock()) {
        ++m_waiting;
        std::this_thread::sleep_until(asked.readyAt);  // at most the probe's deadline
        --m_waiting;
    }
    return read(asked, m_clock());
}

void StreamWatch::tick(StreamTime now) {
    std::vector<std::shared_ptr<Entry>> kept;
    {
        const std::lock_guard lock(m_mutex);
        std::erase_if(m_entries, [&](const auto& item) {
            return now - item.second->lastAsked >= m_options.idle;
        });
        for (const auto& [key, entry] : m_entries) {
            kept.push_back(entry);
        }
    }
    for (const auto& entry : kept) {
        const std::lock_guard lock(entry->mutex);
        entry->window.sample(now, entry->stream->snapshot(now));
    }
}

std::vector<std::shared_ptr<StreamWatch::Entry>> StreamWatch::entries() const {
    std::vector<std::shared_ptr<Entry>> all;
    const std::lock_guard lock(m_mutex);
    for (const auto& [key, entry] : m_entries) {
        if (entry->failure.empty()) {
            all.push_back(entry);
        }
    }
    return all;
}

void StreamWatch::run() {
    StreamTime nextTick = m_clock();
    for (;;) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_stopping) {
                return;
            }
        }
        // The entries of this pass stay alive through it, even when one is left meanwhile.
        const std::vector<std::shared_ptr<Entry>> pass = entries();
        std::vector<pollfd> fds{{m_wakeFd.get(), POLLIN, 0}};
        for (const auto& entry : pass) {
            fds.push_back({entry->stream->fd(), POLLIN, 0});
        }
        const auto wait =
            std::clamp(std::chrono::ceil<std::chrono::milliseconds>(nextTick - m_clock()),
                       std::chrono::milliseconds(0), kPass);
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
        if (ready < 0 && errno != EINTR) {
            logLine(LogLevel::error,
                    std::string("waiting for stream datagrams failed: ") + std::strerror(errno));
            std::this_thread::sleep_for(kPass);  // rather than spin; the next pass tries again
        }
        if (fds[0].revents != 0) {
            std::uint64_t count = 0;
            // Drained; EAGAIN only when another pass already did.
            while (::read(m_wakeFd.get(), &count, sizeof count) == sizeof count) {
            }
        }
        for (std::size_t i = 1; ready > 0 && i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            Entry& entry = *pass[i - 1];
            const std::lock_guard lock(entry.mutex);
            std::string error;
            if (!entry.stream->pump(m_clock, error)) {
                logLine(LogLevel::warn, "stream receiving failed: " + error);
                const std::lock_guard registry(m_mutex);
                entry.failure = error;
            }
        }
        if (m_clock() >= nextTick) {
            tick(m_clock());
            nextTick = m_clock() + kPass;
        }
    }
}

}  // namespace corvane::exporter
