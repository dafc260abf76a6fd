#include "stream_outputs.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "module_config.h"
#include "sim_socket.h"

namespace corvane::modsim {

namespace {

constexpr int kMaxErrorsReported = 20;
constexpr int kSendBufferBytes = 4 * 1024 * 1024;

// The first interface that is up and not the loopback: in the lab, its link.
unsigned labInterface(int fd, std::string& error) {
    struct if_nameindex* names = if_nameindex();
    if (names == nullptr) {
        error = std::string("cannot list interfaces: ") + std::strerror(errno);
        return 0;
    }
    unsigned found = 0;
    for (struct if_nameindex* entry = names; entry->if_index != 0 && found == 0; ++entry) {
        ifreq request{};
        std::strncpy(request.ifr_name, entry->if_name, IFNAMSIZ - 1);
        if (ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_LOOPBACK) == 0 &&
            (request.ifr_flags & IFF_UP) != 0) {
            found = entry->if_index;
        }
    }
    if_freenameindex(names);
    if (found == 0) {
        error = "no lab link to send streams through";
    }
    return found;
}

bool isMulticast(std::uint32_t hostOrder) {
    return hostOrder >> 28 == 0xE;
}

}  // namespace

StreamOutputs::~StreamOutputs() {
    stopAll();
    if (m_fd >= 0) {
        close(m_fd);
    }
    if (m_log != nullptr) {
        std::fclose(m_log);
    }
}

bool StreamOutputs::open(const std::string& logPath, std::string& error) {
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        error = std::string("stream socket: ") + std::strerror(errno);
        return false;
    }
    m_labInterface = labInterface(m_fd, error);
    if (m_labInterface == 0) {
        return false;
    }
    ip_mreqn multicast{};
    multicast.imr_ifindex = static_cast<int>(m_labInterface);
    const int noLoop = 0;
    const int size = kSendBufferBytes;
    if (setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_IF, &multicast, sizeof multicast) != 0 ||
        setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_LOOP, &noLoop, sizeof noLoop) != 0) {
        error = std::string("stream socket: multicast options: ") + std::strerror(errno);
        return false;
    }
    // A larger send buffer is a help, not a need.
    if (setsockopt(m_fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0) {
        setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    if (!logPath.empty()) {
        m_log = std::fopen(logPath.c_str(), "a");
        if (m_log == nullptr) {
            error = logPath + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

void StreamOutputs::sync(const std::vector<SimModule>& modules, Clock::time_point now) {
    if (m_fd < 0) {
        return;  // open() failed and said why
    }
    std::vector<Active> kept;
    for (std::size_t m = 0; m < modules.size(); ++m) {
        for (const OutputTarget& target : runningOutputs(modules[m])) {
            auto same = std::find_if(m_active.begin(), m_active.end(), [&](const Active& a) {
                return a.module == m && a.target == target && a.moduleIp == modules[m].ip;
            });
            if (same != m_active.end()) {
                kept.push_back(std::move(*same));
                m_active.erase(same);
            } else {
                kept.push_back(Active{m, modules[m].ip, target,
                                      StreamSender(modules[m].ip, target, modules[m].stream, now)});
            }
        }
    }
    stopAll();  // what is left no longer runs
    m_active = std::move(kept);
}

void StreamOutputs::sendDue(Clock::time_point now) {
    for (Active& active : m_active) {
        active.sender.sendDue(now, [&](const Bytes& datagram) { return send(active, datagram); });
    }
}

std::optional<StreamOutputs::Clock::time_point> StreamOutputs::nextDue() const {
    std::optional<Clock::time_point> next;
    for (const Active& active : m_active) {
        const auto due = active.sender.nextDue();
        if (due && (!next || *due < *next)) {
            next = due;
        }
    }
    return next;
}

void StreamOutputs::stopAll() {
    for (const Active& active : m_active) {
        writeTally(active);
    }
    m_active.clear();
}

bool StreamOutputs::send(const Active& active, const Bytes& datagram) {
    // From the module's own address; a group leaves through the lab link, never a route.
    const unsigned interfaceIndex = isMulticast(active.target.ip) ? m_labInterface : 0;
    if (sendDatagramFrom(m_fd, active.moduleIp, interfaceIndex, active.target.ip,
                         active.target.port, datagram) == static_cast<ssize_t>(datagram.size())) {
        return true;
    }
    if (m_errorsReported++ < kMaxErrorsReported) {
        std::fprintf(stderr, "corvane-modsim: stream from %s to %s:%u not sent: %s\n",
                     ipv4Text(active.moduleIp).c_str(), ipv4Text(active.target.ip).c_str(),
                     unsigned{active.target.port}, std::strerror(errno));
    }
    return false;
}

void StreamOutputs::writeTally(const Active& active) {
    if (m_log == nullptr) {
        return;
    }
    const StreamTally& t = active.sender.tally();
    std::fprintf(m_log,
                 "{\"module\": \"%s\", \"dest\": \"%s:%u\", \"datagrams\": %llu, "
                 "\"dropped\": %llu, \"rtp_gaps\": %llu, \"cc_breaks\": %llu}\n",
                 ipv4Text(active.moduleIp).c_str(), ipv4Text(active.target.ip).c_str(),
                 unsigned{active.target.port}, static_cast<unsigned long long>(t.datagrams),
                 static_cast<unsigned long long>(t.dropped),
                 static_cast<unsigned long long>(t.rtpGaps),
                 static_cast<unsigned long long>(t.ccBreaks));
    std::fflush(m_log);
}

}  // namespace corvane::modsim
