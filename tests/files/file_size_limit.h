// Running a file write in a child process whose files may not grow beyond a limit,
// so that write() fails part-way with EFBIG as it would on a full disk, without
// needing a full disk or any privilege.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <optional>

#include "files/atomic_file_writer.h"

namespace corvane::test {

inline std::optional<FileWriteResult> runWithFileSizeLimit(
    rlim_t limit, const std::function<FileWriteResult()>& write) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return std::nullopt;
    }
    if (child == 0) {
        ::close(fds[0]);
        // Without this the kernel ends the process instead of failing the write.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit fileSize{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &fileSize) != 0) {
            ::_exit(2);
        }
        const FileWriteResult result = write();
        const int report[2] = {static_cast<int>(result.status), result.error};
        const bool sent = ::write(fds[1], report, sizeof report) == sizeof report;
        ::_exit(sent ? 0 : 3);
    }
    ::close(fds[1]);
    int report[2] = {};
    const ssize_t got = ::read(fds[0], report, sizeof report);
    ::close(fds[0]);
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        got != static_cast<ssize_t>(sizeof report)) {
        return std::nullopt;
    }
    return FileWriteResult{static_cast<FileWriteStatus>(report[0]), report[1]};
}

}  // namespace corvane::test
