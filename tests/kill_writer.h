// Crash-safety tests: start a writer in a child process, let it get going, then kill
// it with SIGKILL at a chosen moment, exactly as a power cut or a crash would.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace corvane::testing {

// Forks a child that runs `writer` (which writes one byte to `startedFd` once it has
// begun, and never returns); waits for that byte, sleeps `delay`, kills and reaps the
// child. Returns an empty text on success, or what went wrong.
inline std::string killWriterAfter(const std::function<void()>& writer, int startedFd,
                                   std::chrono::microseconds delay) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        return "fork failed";
    }
    if (pid == 0) {
        writer();
        ::_exit(1);  // writers never return; reaching this is a fault the parent reports
    }
    char byte = 0;
    if (::read(startedFd, &byte, 1) != 1) {
        return "the writer never started";
    }
    std::this_thread::sleep_for(delay);
    if (::kill(pid, SIGKILL) != 0) {
        return "kill failed";
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) {
        return "waitpid failed";
    }
    if (!WIFSIGNALED(status)) {
        return "writer ended by itself, status " + std::to_string(status);
    }
    return {};
}

}  // namespace corvane::testing
