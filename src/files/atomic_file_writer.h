// Replacing a file so that a crash, a full disk or a pulled plug never leaves a
// half-written file behind: the bytes go to a temporary file in the same folder, which
// is flushed to disk and only then renamed over the target. One writer for every file
// the program writes, so they all answer the same way about permissions, owners, links
// and leftovers.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>
#include <string_view>

#include "files/file_sink.h"

namespace corvane {

enum class FileWriteStatus {
    Saved,           // the target now holds exactly the bytes given
    CouldNotCreate,  // nothing was written; the target is untouched
    WriteFailed,     // writing failed part-way; no partial file remains
};

struct FileWriteResult {
    FileWriteStatus status = FileWriteStatus::Saved;
    int error = 0;  // errno of the failing call, 0 when saved
    // When saved: the new file as written, so that a caller can tell later whether the
    // file on disk is still the one it wrote.
    struct stat written {};

    bool saved() const { return status == FileWriteStatus::Saved; }
    // The system's text for `error`, for an error message that names the file.
    std::string message() const;
};

// Puts the new file's bytes into the sink.
using FileFiller = std::function<void(FileSink&)>;

// Creates `path` or replaces it whole with what `fill` writes.
// - A symbolic link is written through to its target, as opening the path would be.
// - The target is refused (CouldNotCreate) when it is a folder or another file that is
//   not a regular file, or when this user may not write it, as opening it would be.
// - An existing target keeps its permission bits, and its owner when root writes it;
//   a new one gets 0666 less the umask.
// - Temporary files that writers of the same target left when they died are removed.
FileWriteResult writeFileAtomically(const std::string& path, const FileFiller& fill);
FileWriteResult writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace corvane
