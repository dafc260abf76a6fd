// The rule that one user runs one copy of the program. The first copy holds an exclusive
// flock on a per-user lock file; the kernel drops the lock when the process ends in any
// way, crash included, so a dead copy never blocks the next start.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

class SingleInstanceLock {
public:
    // Takes the lock named `name` at once, without waiting. With an empty `folder` the
    // lock file lives in $XDG_RUNTIME_DIR when that is usable, else in the temporary
    // folder with the user id in its name.
    explicit SingleInstanceLock(std::string_view name, std::string folder = {});
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // False when another copy holds the lock or the lock file could not be used.
    bool held() const { return m_fd >= 0; }
    const std::string& path() const { return m_path; }

    // The lock file used for `name` (and `folder`, as for the constructor).
    static std::string lockFilePath(std::string_view name, const std::string& folder = {});

private:
    std::string m_path;
    int m_fd = -1;
};

}  // namespace corvane
