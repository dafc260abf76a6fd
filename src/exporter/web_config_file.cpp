#include "exporter/web_config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane::exporter {
namespace {

FileStamp stampFrom(const std::string& path, const struct stat& st) {
    FileStamp stamp;
    stamp.path = path;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modifiedNs =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return stamp;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);  // read only: nothing to lose on close
        }
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

FileStamp stampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        FileStamp none;
        none.path = path;
        return none;
    }
    return stampFrom(path, st);
}

StampedRead readStampedFile(const std::string& path, std::size_t maxBytes, std::string& text,
                            FileStamp& stamp, std::string& error) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat before {};
    if (file.get() < 0 || ::fstat(file.get(), &before) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return StampedRead::failed;
    }
    stamp = stampFrom(path, before);
    text.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            return StampedRead::failed;
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > maxBytes) {
            error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
            return StampedRead::failed;
        }
    }
    struct stat after {};
    if (::fstat(file.get(), &after) != 0 || !(stampFrom(path, after) == stamp) ||
        !(stampOf(path) == stamp)) {
        return StampedRead::changing;
    }
    return StampedRead::read;
}

}  // namespace corvane::exporter
