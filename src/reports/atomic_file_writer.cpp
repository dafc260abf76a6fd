#include "reports/atomic_file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace corvane {
namespace {

// Room for the temporary name's prefix and suffix within the usual 255-byte limit
// on a name, so a long but valid target name never makes the temporary name fail.
constexpr std::size_t kMaxTempBaseLength = 200;

constexpr FileWriteResult couldNotCreate(int error) {
    return {FileWriteStatus::CouldNotCreate, error};
}

constexpr FileWriteResult writeFailed(int error) {
    return {FileWriteStatus::WriteFailed, error};
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// An existing symbolic link is written through, as opening the path would do,
// rather than being replaced by a plain file.
std::string resolveTarget(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;  // a new file: nothing to resolve
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

mode_t newFileMode() {
    // umask can only be read by setting it; the program reads it on its one UI
    // thread, so putting it straight back is safe.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes, int& error) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            return false;
        }
        if (n == 0) {
            error = EIO;  // no progress and no error: give up rather than spin
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    // Some file systems cannot sync a folder at all; the rename stands there as well.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP) {
        error = errno;
    }
    ::close(fd);
    return error;
}

// Fills the open temporary file and flushes it; closes `fd` in every case.
FileWriteResult fillTemporary(int fd, std::span<const std::uint8_t> bytes, mode_t mode) {
    int error = 0;
    if (::fchmod(fd, mode) != 0) {
        error = errno;
        ::close(fd);
        return couldNotCreate(error);
    }
    if (!writeAll(fd, bytes, error)) {
        ::close(fd);
        return writeFailed(error);
    }
    if (::fsync(fd) != 0) {
        error = errno;
        ::close(fd);
        return writeFailed(error);
    }
    // close can report a delayed write error (on network file systems, say).
    if (::close(fd) != 0) {
        return writeFailed(errno);
    }
    return {};
}

}  // namespace

std::string FileWriteResult::message() const {
    return std::strerror(error);
}

FileWriteResult writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    if (path.empty()) {
        return couldNotCreate(ENOENT);
    }
    const std::string target = resolveTarget(path);
    mode_t mode = newFileMode();
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            return couldNotCreate(EISDIR);
        }
        // Renaming would get round a write-protected file; refuse it as open would.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            return couldNotCreate(errno);
        }
        mode = existing.st_mode & 0777;
    } else if (errno != ENOENT) {
        return couldNotCreate(errno);
    }

    const std::string folder = folderOf(target);
    std::string tempName =
        folder + "/." + baseNameOf(target).substr(0, kMaxTempBaseLength) + ".XXXXXX";
    std::vector<char> nameBuffer(tempName.begin(), tempName.end());
    nameBuffer.push_back('\0');
    const int fd = ::mkstemp(nameBuffer.data());
    if (fd < 0) {
        return couldNotCreate(errno);
    }
    tempName = nameBuffer.data();

    FileWriteResult result = fillTemporary(fd, bytes, mode);
    if (result.saved() && ::rename(tempName.c_str(), target.c_str()) != 0) {
        result = writeFailed(errno);
    }
    if (!result.saved()) {
        // Best effort: the write's own error is the one worth reporting.
        ::unlink(tempName.c_str());
        return result;
    }
    // Without this the rename itself may not survive a crash; the new content is in
    // place but not known to be on disk, which the caller should hear about.
    if (const int error = syncFolder(folder); error != 0) {
        return writeFailed(error);
    }
    return result;
}

}  // namespace corvane
