// A progress line on standard error while a long operation runs ("Checking 12 of 40..."),
// for a person at a terminal: shown only when standard error is one, only once the
// operation has taken more than a second, redrawn as the text changes, and erased when
// it ends, so that nothing of it stays between the command and its result.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace corvane::cli {

inline constexpr std::chrono::milliseconds kProgressDelay{1000};

class ProgressLine {
public:
    // `text` runs on the line's own thread, so what it reads must be safe to read there
    // (an atomic counter).
    explicit ProgressLine(std::function<std::string()> text, int fd = 2,
                          std::chrono::milliseconds delay = kProgressDelay);
    // Erases the line if it was shown.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

private:
    void run(std::chrono::milliseconds delay);

    std::function<std::string()> m_text;
    int m_fd;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace corvane::cli
