// Replacing a file so that a crash, a full disk or a pulled plug never leaves a
// half-written file behind: the bytes go to a temporary file in the same folder,
// which is flushed to disk and only then renamed over the target.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace corvane {

enum class FileWriteStatus {
    Saved,           // the target now holds exactly the bytes given
    CouldNotCreate,  // nothing was written; the target is untouched
    WriteFailed,     // writing failed part-way; no partial file remains
};

struct FileWriteResult {
    FileWriteStatus status = FileWriteStatus::Saved;
    int error = 0;  // errno of the failing call, 0 when saved

    bool saved() const { return status == FileWriteStatus::Saved; }
    // The system's text for `error`, for an error message that names the file.
    std::string message() const;
};

// Writes `bytes` to `path`, creating it or replacing it whole. An existing target
// keeps its permission bits; a new one gets 0666 less the umask. The target is
// refused (CouldNotCreate) when it is a folder or a file this user may not write,
// as opening it for writing would be.
FileWriteResult writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace corvane
