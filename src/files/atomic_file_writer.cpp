#include "files/atomic_file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "files/file_descriptor.h"
#include "files/temporary_file.h"

namespace corvane {
namespace {

// Where the new file goes and what it gets from the file it replaces.
struct Target {
    std::string path;  // symbolic links resolved
    mode_t mode = 0;
    bool keepOwner = false;
    uid_t owner = 0;
    gid_t group = 0;
};

FileWriteResult couldNotCreate(int error) {
    return {FileWriteStatus::CouldNotCreate, error};
}

FileWriteResult writeFailed(int error) {
    return {FileWriteStatus::WriteFailed, error};
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// An existing symbolic link is written through, as opening the path would do, rather
// than being replaced by a plain file.
std::string resolved(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) {
        return path;  // a new file (or a dangling link, which the new file replaces)
    }
    std::string result(real);
    std::free(real);
    return result;
}

// The process umask, read without changing it (Linux reports it in /proc since 4.7).
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("Umask:")) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
        }
    }
    // Older kernels: umask is read by setting it. Putting it straight back is safe as long
    // as no other thread creates a file in between, which holds for our programs.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Looks at what `path` is now; 0, or the errno that refuses the write.
int examine(const std::string& path, Target& target) {
    target.path = resolved(path);
    struct stat st {};
    if (::stat(target.path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            return errno;
        }
        target.mode = 0666 & ~currentUmask();
        return 0;
    }
    if (S_ISDIR(st.st_mode)) {
        return EISDIR;
    }
    // Renaming over a device, a FIFO or a socket would put a plain file in its place.
    if (!S_ISREG(st.st_mode)) {
        return EINVAL;
    }
    // Renaming would get round a write-protected file; refuse it as opening it would.
    if (::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0) {
        return errno;
    }
    target.mode = st.st_mode & 0777;
    // Root editing a user's file leaves it the user's.
    target.keepOwner = ::geteuid() == 0;
    target.owner = st.st_uid;
    target.group = st.st_gid;
    return 0;
}

// Makes the rename itself durable. A failure here is not reported: the target already
// holds the new bytes, and "failed" would tell the caller that the old file still
// stands, so that it warns of a loss that did not happen or writes again. What is left
// at stake, that a power cut in the next moments brings back the old file, is nothing a
// caller could act on.
void syncFolder(const std::string& folder) {
    FileDescriptor fd(openNoInterrupt(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) {
        ::fsync(fd.get());
    }
}

}  // namespace

std::string FileWriteResult::message() const {
    return std::strerror(error);
}

FileWriteResult writeFileAtomically(const std::string& path, const FileFiller& fill) {
    if (path.empty()) {
        return couldNotCreate(ENOENT);
    }
    Target target;
    if (const int error = examine(path, target); error != 0) {
        return couldNotCreate(error);
    }
    const std::string folder = folderOf(target.path);
    const std::string fileName = fileNameOf(target.path);
    removeStaleTemporaries(folder, fileName);
    TemporaryFile temp(folder, fileName);
    if (!temp.valid()) {
        return couldNotCreate(temp.error());
    }
    // chown first: it may clear mode bits that fchmod then sets.
    if ((target.keepOwner && ::fchown(temp.fd(), target.owner, target.group) != 0) ||
        ::fchmod(temp.fd(), target.mode) != 0) {
        return couldNotCreate(errno);
    }
    FileSink sink(temp.fd());
    fill(sink);
    if (sink.failed()) {
        return writeFailed(sink.error());
    }
    FileWriteResult result;
    if (::fsync(temp.fd()) != 0 || ::fstat(temp.fd(), &result.written) != 0 ||
        ::rename(temp.path().c_str(), target.path.c_str()) != 0) {
        return writeFailed(errno);
    }
    // The temporary file stays open and locked up to the rename, so that no cleaner takes
    // it for a stale one. Its close cannot lose bytes that fsync has already brought to
    // disk, so its result says nothing more.
    temp.commit();
    syncFolder(folder);
    return result;
}

FileWriteResult writeFileAtomically(const std::string& path, std::string_view bytes) {
    return writeFileAtomically(path, [bytes](FileSink& sink) { sink.write(bytes); });
}

}  // namespace corvane
