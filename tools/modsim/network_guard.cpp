#include "network_guard.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

namespace corvane::modsim {

namespace {

const std::set<std::string> kLabDrivers = {"veth", "bridge", "dummy"};

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

// The interface's driver name, or an empty text when the kernel does not tell.
std::string driverOf(int fd, const char* name) {
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    request.ifr_data = reinterpret_cast<char*>(&info);
    if (ioctl(fd, SIOCETHTOOL, &request) != 0) {
        return {};
    }
    return std::string(info.driver, strnlen(info.driver, sizeof info.driver));
}

bool isLoopback(int fd, const char* name) {
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    return ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_LOOPBACK) != 0;
}

}  // namespace

bool onlyLabInterfaces(std::string& offending) {
    Fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        offending = std::string("cannot inspect interfaces: ") + std::strerror(errno);
        return false;
    }
    struct if_nameindex* names = if_nameindex();
    if (names == nullptr) {
        offending = std::string("cannot list interfaces: ") + std::strerror(errno);
        return false;
    }
    bool safe = true;
    for (struct if_nameindex* entry = names; entry->if_index != 0; ++entry) {
        if (isLoopback(fd.get(), entry->if_name)) {
            continue;
        }
        const std::string driver = driverOf(fd.get(), entry->if_name);
        if (kLabDrivers.count(driver) == 0) {
            offending = std::string(entry->if_name) + " (driver '" + driver + "')";
            safe = false;
            break;
        }
    }
    if_freenameindex(names);
    return safe;
}

}  // namespace corvane::modsim
