#include "cli/progress_line.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string_view>

namespace corvane::cli {
namespace {

constexpr std::chrono::milliseconds kRedrawInterval{100};
// Back to the start of the line, then clear to its end.
constexpr std::string_view kErase = "\r\033[K";

// The descriptor a shown line is on, for the signal handler; -1 while none is shown.
std::atomic<int> g_shownOn{-1};
static_assert(std::atomic<int>::is_always_lock_free);

// Writes everything; a terminal that refuses it is left alone, there is nobody to tell.
void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Ctrl+C while the line is shown: erase it, then die of the signal as usual
// (SA_RESETHAND has put the default action back).
void eraseAndDie(int signal) {
    const int fd = g_shownOn.load();
    if (fd >= 0) {
        (void)!::write(fd, kErase.data(), kErase.size());  // nothing to do if it fails
    }
    ::raise(signal);
}

struct SignalGuard {
    SignalGuard() {
        struct sigaction action {};
        action.sa_handler = eraseAndDie;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        // Failing to install leaves the default action: the line may stay, nothing worse.
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
    }
    ~SignalGuard() {
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
    }
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
};

}  // namespace

ProgressLine::ProgressLine(std::function<std::string()> text, int fd,
                           std::chrono::milliseconds delay)
    : m_text(std::move(text)), m_fd(fd) {
    if (::isatty(m_fd) == 1) {
        m_thread = std::thread([this, delay] { run(delay); });
    }
}

ProgressLine::~ProgressLine() {
    if (!m_thread.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void ProgressLine::run(std::chrono::milliseconds delay) {
    std::unique_lock lock(m_mutex);
    if (m_wake.wait_for(lock, delay, [this] { return m_stop; })) {
        return;  // done within the delay: nothing was shown
    }
    const SignalGuard guard;
    std::string shown;
    g_shownOn.store(m_fd);
    do {
        const std::string text = m_text();
        if (text != shown) {
            writeAll(m_fd, std::string(kErase) + text);
            shown = text;
        }
    } while (!m_wake.wait_for(lock, kRedrawInterval, [this] { return m_stop; }));
    g_shownOn.store(-1);
    writeAll(m_fd, kErase);
}

}  // namespace corvane::cli
