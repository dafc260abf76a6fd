#include "files/file_sink.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace corvane {
namespace {

constexpr std::size_t kCopyChunk = 64 * 1024;

}  // namespace

void FileSink::write(std::string_view bytes) {
    while (!failed() && !bytes.empty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            m_error = n < 0 ? errno : EIO;  // no progress and no error: give up rather than spin
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void FileSink::copyFrom(int from, off_t offset) {
    std::string buffer(kCopyChunk, '\0');
    while (!failed()) {
        const ssize_t n = ::pread(from, buffer.data(), buffer.size(), offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            m_error = errno;
            return;
        }
        if (n == 0) {
            return;
        }
        write(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        offset += n;
    }
}

}  // namespace corvane
