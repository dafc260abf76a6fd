#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace corvane {

namespace {

constexpr const char* kFallbackTempFolder = "/tmp";

// A runtime folder as the XDG rules describe it: ours, a directory, closed to others.
bool isUsableRuntimeFolder(const char* folder) {
    struct stat st {};
    return folder != nullptr && folder[0] == '/' && ::stat(folder, &st) == 0 &&
           S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 0077) == 0 &&
           ::faccessat(AT_FDCWD, folder, W_OK | X_OK, AT_EACCESS) == 0;
}

std::string tempFolder() {
    const char* tmpdir = std::getenv("TMPDIR");
    struct stat st {};
    if (tmpdir != nullptr && tmpdir[0] == '/' && ::stat(tmpdir, &st) == 0 && S_ISDIR(st.st_mode)) {
        return tmpdir;
    }
    return kFallbackTempFolder;
}

std::string perUserName(std::string_view name) {
    return std::string(name) + "-" + std::to_string(::geteuid()) + ".lock";
}

}  // namespace

std::string SingleInstanceLock::lockFilePath(std::string_view name, const std::string& folder) {
    if (!folder.empty()) {
        return folder + "/" + perUserName(name);
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (isUsableRuntimeFolder(runtime)) {
        return std::string(runtime) + "/" + std::string(name) + ".lock";
    }
    return tempFolder() + "/" + perUserName(name);
}

SingleInstanceLock::SingleInstanceLock(std::string_view name, std::string folder)
    : m_path(lockFilePath(name, folder)) {
    // O_NOFOLLOW: in a shared folder another user could plant a link to one of our files.
    // O_NONBLOCK: a FIFO planted under the name must not hang the start.
    int fd;
    do {
        fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return;
    }
    // A file that someone else owns could be locked by them at will: not ours to use.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        ::close(fd);
        return;
    }
    m_fd = fd;
}

// The file stays: removing it while another start has it open would let two copies
// lock two different files of the same name.
SingleInstanceLock::~SingleInstanceLock() {
    if (m_fd >= 0) {
        ::close(m_fd);  // nothing was written through it, so no error can matter
    }
}

}  // namespace corvane
