// What the web configuration's reload compares to tell that a file changed: a file's
// device, inode, size and modification time. A file is read with its stamp taken from the
// opened file before the read and compared after it, so that a change made while it was
// being read is never recorded as seen.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace corvane::exporter {

struct FileStamp {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;  // -1: no such file
    std::int64_t modifiedNs = -1;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of the file at `path` now; a missing or unreadable file stamps as "none".
FileStamp stampOf(const std::string& path);

enum class StampedRead { read, failed, changing };

// Reads the whole file at `path` (at most `maxBytes`) into `text`, with `stamp` taken from
// the opened file before reading. `changing` when the file (or what its path names) was
// not the same after the read: the text may be torn, read again later.
StampedRead readStampedFile(const std::string& path, std::size_t maxBytes, std::string& text,
                            FileStamp& stamp, std::string& error);

}  // namespace corvane::exporter
