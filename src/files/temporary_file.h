// The temporary file that becomes a target by rename, and the clean-up of those left by
// writers that died before their rename.
#pragma once

#include <string>
#include <string_view>

#include "files/file_descriptor.h"

namespace corvane {

// The temporary name for a target in its folder: ".<file name>.tmp.XXXXXX" (hidden; the
// file name cut to leave room within the usual 255-byte limit on a name).
std::string temporaryNamePattern(const std::string& fileName);
// True when `name` is a temporary name for `fileName` made from that pattern.
bool isTemporaryName(std::string_view name, const std::string& fileName);

// Removes the temporary files of `fileName` in `folder` that belong to writers that
// died (killed, power cut) before their rename. A live writer holds an exclusive flock
// on its temporary file from creation to rename, so a file that we can lock belongs to
// nobody. Only our own files are touched.
void removeStaleTemporaries(const std::string& folder, const std::string& fileName);

// A new, exclusively locked temporary file beside a target, removed again unless
// commit() is called after it has been renamed over the target.
class TemporaryFile {
public:
    TemporaryFile(const std::string& folder, const std::string& fileName);
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile();

    bool valid() const { return m_fd.valid(); }
    int error() const { return m_error; }  // errno of the failed creation
    int fd() const { return m_fd.get(); }
    const std::string& path() const { return m_path; }
    // After the rename: the name is the target's now and must not be removed. The close
    // also drops the lock.
    void commit();

private:
    void create(std::string name);

    FileDescriptor m_fd;
    std::string m_path;
    int m_error = 0;
    bool m_committed = false;
};

}  // namespace corvane
