// The network lab as a test sees it: the segments that tests/lab/lab-run made (read
// from its environment variables), simulated modules started on a segment's modules
// side, and the datagram log they write. Plain C++ and POSIX, no test framework, so
// GoogleTest and QtTest programs can both use it.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/ipv4_address.h"

extern char** environ;

namespace corvane::lab {

// The argument vector posix_spawn wants: pointers into `words`, then a null pointer.
inline std::vector<char*> spawnArguments(const std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (const std::string& word : words) {
        pointers.push_back(const_cast<char*>(word.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace corvane::lab

namespace corvane::lab {

// Network order: the four octets in wire order in memory, as the packed records hold them.
inline std::uint32_t storedIpv4(const std::string& dotted) {
    in_addr address{};
    if (inet_pton(AF_INET, dotted.c_str(), &address) != 1) {
        return 0;
    }
    return address.s_addr;
}

// A dotted address as the program's interfaces take it; 0.0.0.0 when it is not one.
inline Ipv4Address ipv4Of(const std::string& dotted) {
    return Ipv4Address::fromNetworkOrder(storedIpv4(dotted));
}

inline std::string dottedIpv4(std::uint32_t stored) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = stored;
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

// One program-side adapter with the modules side behind it.
struct LabSegment {
    std::string programAddress;      // e.g. "10.77.0.1"
    std::string programMask;         // "255.255.0.0"
    std::string modulesSideAddress;  // the modules side's own address
    std::string moduleSubnet;        // e.g. "10.77.64.0/18", local on the modules side
    std::string modulesExec;         // command prefix that runs a program on the modules side

    // The n-th address of the module subnet (1 is the first after the network address).
    std::string moduleAddress(std::uint32_t n) const {
        const std::string network = moduleSubnet.substr(0, moduleSubnet.find('/'));
        return dottedIpv4(htonl(ntohl(storedIpv4(network)) + n));
    }
};

struct LabEnvironment {
    std::vector<LabSegment> segments;
    std::string modsimPath;

    // Fills `lab` from the environment; on failure `reason` says what is missing.
    static bool load(LabEnvironment& lab, std::string& reason) {
        lab = {};
        if (std::getenv("CORVANE_LAB") == nullptr) {
            reason = "not inside the network lab (run through tests/lab/lab-run)";
            return false;
        }
        for (const std::string suffix : {"", "_2"}) {
            LabSegment segment;
            const char* address = std::getenv(("CORVANE_LAB_PROGRAM_ADDRESS" + suffix).c_str());
            const char* mask = std::getenv(("CORVANE_LAB_PROGRAM_MASK" + suffix).c_str());
            const char* side = std::getenv(("CORVANE_LAB_MODULES_SIDE_ADDRESS" + suffix).c_str());
            const char* subnet = std::getenv(("CORVANE_LAB_MODULE_SUBNET" + suffix).c_str());
            const char* exec = std::getenv(("CORVANE_LAB_MODULES_EXEC" + suffix).c_str());
            if (address == nullptr || mask == nullptr || side == nullptr || subnet == nullptr ||
                exec == nullptr) {
                break;
            }
            lab.segments.push_back(LabSegment{address, mask, side, subnet, exec});
        }
        if (lab.segments.empty()) {
            reason = "the lab's CORVANE_LAB_* variables are incomplete";
            return false;
        }
        const char* modsim = std::getenv("CORVANE_MODSIM");
        if (modsim == nullptr || access(modsim, X_OK) != 0) {
            reason = "CORVANE_MODSIM does not name the corvane-modsim executable";
            return false;
        }
        lab.modsimPath = modsim;
        return true;
    }
};

// One line of corvane-modsim's log.
struct LoggedDatagram {
    double timeMs = 0;  // steady clock (CLOCK_MONOTONIC) in milliseconds
    std::string source;
    int sourcePort = 0;
    std::string destination;
    int destinationPort = 0;
    std::vector<std::uint8_t> bytes;
};

namespace detail {

inline std::string jsonField(const std::string& line, const std::string& key) {
    const std::string marker = "\"" + key + "\": ";
    const std::size_t start = line.find(marker);
    if (start == std::string::npos) {
        return {};
    }
    std::size_t from = start + marker.size();
    if (from < line.size() && line[from] == '"') {
        const std::size_t end = line.find('"', from + 1);
        return end == std::string::npos ? std::string{} : line.substr(from + 1, end - from - 1);
    }
    const std::size_t end = line.find_first_of(",}", from);
    return line.substr(from, end - from);
}

inline std::vector<std::string> splitWords(const std::string& text) {
    std::istringstream stream(text);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

}  // namespace detail

inline bool parseLogLine(const std::string& line, LoggedDatagram& out) {
    const std::string hex = detail::jsonField(line, "hex");
    const std::string length = detail::jsonField(line, "len");
    if (length.empty() || hex.size() % 2 != 0) {
        return false;
    }
    out.timeMs = std::strtod(detail::jsonField(line, "t").c_str(), nullptr);
    out.source = detail::jsonField(line, "src");
    out.sourcePort = std::atoi(detail::jsonField(line, "sport").c_str());
    out.destination = detail::jsonField(line, "dst");
    out.destinationPort = std::atoi(detail::jsonField(line, "dport").c_str());
    out.bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        out.bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out.bytes.size() == static_cast<std::size_t>(std::atoi(length.c_str()));
}

// Complete lines only: a line still being written has no newline yet.
inline std::vector<LoggedDatagram> readModsimLog(const std::string& path) {
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    std::vector<LoggedDatagram> lines;
    std::string text = content.str();
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        LoggedDatagram datagram;
        if (parseLogLine(text.substr(start, end - start), datagram)) {
            lines.push_back(std::move(datagram));
        }
    }
    return lines;
}

// corvane-modsim running on a segment's modules side; stopped (by PID) when it goes.
class ModsimProcess {
public:
    ModsimProcess() = default;
    ModsimProcess(const ModsimProcess&) = delete;
    ModsimProcess& operator=(const ModsimProcess&) = delete;
    ~ModsimProcess() { stop(); }

    // Starts it with `arguments` and, when not empty, a configuration file holding
    // `config` (one module per line); waits until its sockets are bound.
    bool start(const LabEnvironment& lab, const LabSegment& segment,
               const std::vector<std::string>& arguments, const std::string& config,
               std::string& error, int readyTimeoutMs = 10000) {
        stop();
        if (!makeFolder(error)) {
            return false;
        }
        std::vector<std::string> argv = detail::splitWords(segment.modulesExec);
        argv.push_back(lab.modsimPath);
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        if (!config.empty()) {
            const std::string configPath = m_folder + "/modules.conf";
            std::ofstream file(configPath);
            file << config;
            if (!file.flush()) {
                error = "cannot write " + configPath;
                return false;
            }
            argv.insert(argv.end(), {"--config", configPath});
        }
        argv.insert(argv.end(), {"--log", logPath(), "--ready-file", readyPath()});
        return spawn(argv, error) && waitReady(readyTimeoutMs, error);
    }

    // SIGTERM, then SIGKILL if it has not gone within two seconds.
    void stop() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            if (!reap(2000)) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, nullptr, 0);
            }
            m_pid = -1;
        }
        if (!m_folder.empty() && std::getenv("CORVANE_LAB_KEEP_LOGS") == nullptr) {
            std::error_code ignored;  // a leftover temporary folder harms nothing
            std::filesystem::remove_all(m_folder, ignored);
        }
        m_folder.clear();
    }

    pid_t pid() const { return m_pid; }
    std::string logPath() const { return m_folder + "/modsim.jsonl"; }
    std::vector<LoggedDatagram> log() const { return readModsimLog(logPath()); }

    // Waits until at least `count` logged datagrams satisfy `match`; returns them all.
    std::vector<LoggedDatagram> waitForLog(const std::function<bool(const LoggedDatagram&)>& match,
                                           std::size_t count, int timeoutMs) const {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            std::vector<LoggedDatagram> matching;
            for (auto& datagram : log()) {
                if (match(datagram)) {
                    matching.push_back(std::move(datagram));
                }
            }
            if (matching.size() >= count || std::chrono::steady_clock::now() >= deadline) {
                return matching;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    std::string readyPath() const { return m_folder + "/ready"; }

    bool makeFolder(std::string& error) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/corvane-lab-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            error = "mkdtemp: " + std::string(std::strerror(errno));
            return false;
        }
        m_folder = pattern;
        return true;
    }

    bool spawn(const std::vector<std::string>& argv, std::string& error) {
        std::vector<char*> pointers = spawnArguments(argv);
        // Its "READY" line goes to a file; its error messages stay visible.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string outPath = m_folder + "/stdout.txt";
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int result =
            posix_spawnp(&m_pid, pointers[0], &actions, nullptr, pointers.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (result != 0) {
            m_pid = -1;
            error = "cannot start " + argv[0] + ": " + std::strerror(result);
            return false;
        }
        return true;
    }

    bool waitReady(int timeoutMs, std::string& error) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (access(readyPath().c_str(), F_OK) == 0) {
                return true;
            }
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                error = "corvane-modsim ended before it was ready (status " +
                        std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        error = "corvane-modsim was not ready within " + std::to_string(timeoutMs) + " ms";
        return false;
    }

    bool reap(int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            const pid_t result = waitpid(m_pid, nullptr, WNOHANG);
            if (result == m_pid || (result < 0 && errno == ECHILD)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    pid_t m_pid = -1;
    std::string m_folder;
};

}  // namespace corvane::lab
