// corvane_exporter as the lab tests and the load benchmark run it: the real executable on
// the program side, its log in a file, its port free when it starts, and HTTP to it
// through cpp-httplib's client.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <httplib.h>

#include "lab/lab_environment.h"

namespace corvane::lab {

// A port nobody listens on now: the kernel's pick for a socket bound to port 0.
inline int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return port;
}

class ExporterProcess {
public:
    ExporterProcess() = default;
    ExporterProcess(const ExporterProcess&) = delete;
    ExporterProcess& operator=(const ExporterProcess&) = delete;
    ~ExporterProcess() { stop(); }

    // Starts it listening on 127.0.0.1 and a free port, with `arguments` after
    // --web.listen-address; waits until it accepts connections.
    bool start(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& logPath, std::string& error) {
        m_port = freeLoopbackPort();
        std::vector<std::string> argv = {program, "--web.listen-address",
                                         "127.0.0.1:" + std::to_string(m_port)};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> pointers = lab::spawnArguments(argv);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        const int result =
            posix_spawn(&m_pid, program.c_str(), &actions, nullptr, pointers.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (result != 0) {
            m_pid = -1;
            error = "cannot start " + program + ": " + std::strerror(result);
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (accepts()) {
                return true;
            }
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                error = "corvane_exporter ended at once (status " +
                        std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        error = "corvane_exporter does not accept connections";
        return false;
    }

    // SIGTERM and its exit status (-1 when it had to be killed).
    int stop() {
        if (m_pid <= 0) {
            return -1;
        }
        kill(m_pid, SIGTERM);
        int status = -1;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (waitpid(m_pid, &status, WNOHANG) != m_pid) {
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
                m_pid = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }

    httplib::Client client() const {
        httplib::Client client("127.0.0.1", m_port);
        client.set_read_timeout(30, 0);
        return client;
    }

private:
    bool accepts() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(m_port));
        const bool connected =
            fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0) {
            ::close(fd);
        }
        return connected;
    }

    pid_t m_pid = -1;
    int m_port = 0;
};

// The settings file value of an address: the signed decimal of its stored form.
inline std::string storedSetting(const std::string& dotted) {
    return std::to_string(static_cast<std::int32_t>(storedIpv4(dotted)));
}

}  // namespace corvane::lab
