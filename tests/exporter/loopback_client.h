// A client of a server of ours on the loopback network, connecting from a loopback
// address of its choice so that one test can play several clients.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <regex>
#include <string>

namespace corvane::test {

// A connection to 127.0.0.1:`port` from the loopback address `source`, or -1.
inline int connectFrom(const char* source, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

// Whether `answer` holds a whole HTTP answer: its head, and the body its length names.
inline bool wholeAnswer(const std::string& answer) {
    const std::size_t headEnd = answer.find("\r\n\r\n");
    std::smatch length;
    const std::string head = answer.substr(0, headEnd == std::string::npos ? 0 : headEnd + 2);
    return std::regex_search(head, length, std::regex("Content-Length: (\\d+)\r\n")) &&
           answer.size() >= headEnd + 4 + std::stoul(length[1]);
}

// Whether `answer` is a whole 503 whose body has the length its head says and holds `why`.
inline ::testing::AssertionResult busyAnswer(const std::string& answer, const std::string& why) {
    const std::size_t bodyAt = answer.find("\r\n\r\n");
    if (answer.rfind("HTTP/1.1 503 ", 0) != 0 || bodyAt == std::string::npos) {
        return ::testing::AssertionFailure() << "not a 503: " << answer;
    }
    std::smatch length;
    const std::string head = answer.substr(0, bodyAt + 2);
    const std::string body = answer.substr(bodyAt + 4);
    if (!std::regex_search(head, length, std::regex("Content-Length: (\\d+)\r\n")) ||
        std::stoul(length[1]) != body.size() || body.find(why) == std::string::npos) {
        return ::testing::AssertionFailure() << "length or reason wrong: " << answer;
    }
    return ::testing::AssertionSuccess();
}

// What arrives on `fd` until the server closes it (at most `idleMs` between reads) or,
// with `wholeIsEnough`, until a whole answer has arrived.
inline std::string readToEnd(int fd, int idleMs, bool wholeIsEnough = false) {
    std::string answer;
    char buffer[4096];
    while (!(wholeIsEnough && wholeAnswer(answer))) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, idleMs) <= 0) {
            break;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    return answer;
}

}  // namespace corvane::test
