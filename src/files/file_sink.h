// Where the bytes of a new file go, in as many pieces as the code that makes them likes.
#pragma once

#include <sys/types.h>

#include <string_view>

namespace corvane {

// Writes to an open file. The first failure is kept and every later call does nothing,
// so a filler can write piece after piece and leave the checking to its caller.
class FileSink {
public:
    explicit FileSink(int fd) : m_fd(fd) {}

    void write(std::string_view bytes);
    // The bytes of the open file `from`, from `offset` to its end (read with pread, so
    // `from`'s own position does not matter).
    void copyFrom(int from, off_t offset);

    bool failed() const { return m_error != 0; }
    int error() const { return m_error; }  // errno of the first failure, else 0

private:
    int m_fd;
    int m_error = 0;
};

}  // namespace corvane
