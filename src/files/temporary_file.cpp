#include "files/temporary_file.h"

#include <dirent.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

namespace corvane {
namespace {

constexpr std::string_view kTemporaryPrefix = ".";
constexpr std::string_view kTemporaryInfix = ".tmp.";
constexpr std::size_t kRandomLength = 6;  // mkstemp's XXXXXX
constexpr std::size_t kMaxFileNameLength = 200;
constexpr int kCreateAttempts = 3;

std::string_view shortened(const std::string& fileName) {
    return std::string_view(fileName).substr(0, kMaxFileNameLength);
}

bool isRandomPart(std::string_view text) {
    if (text.size() != kRandomLength) {
        return false;
    }
    for (char c : text) {
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum) {
            return false;
        }
    }
    return true;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::string temporaryNamePattern(const std::string& fileName) {
    return std::string(kTemporaryPrefix) + std::string(shortened(fileName)) +
           std::string(kTemporaryInfix) + std::string(kRandomLength, 'X');
}

bool isTemporaryName(std::string_view name, const std::string& fileName) {
    const std::string_view base = shortened(fileName);
    if (!name.starts_with(kTemporaryPrefix)) {
        return false;
    }
    name.remove_prefix(kTemporaryPrefix.size());
    if (!name.starts_with(base)) {
        return false;
    }
    name.remove_prefix(base.size());
    if (!name.starts_with(kTemporaryInfix)) {
        return false;
    }
    name.remove_prefix(kTemporaryInfix.size());
    return isRandomPart(name);
}

// Best effort: a file we cannot open, lock or remove is left for a later write, and it
// does not make this write fail.
void removeStaleTemporaries(const std::string& folder, const std::string& fileName) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryName(entry->d_name, fileName)) {
            continue;
        }
        const std::string path = folder + "/" + entry->d_name;
        FileDescriptor fd(
            openNoInterrupt(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        struct stat opened {};
        struct stat named {};
        if (!fd.valid() || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
            opened.st_uid != ::geteuid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        // The name may have been renamed away or reused after we opened it.
        if (::lstat(path.c_str(), &named) == 0 && sameFile(named, opened)) {
            ::unlink(path.c_str());
        }
    }
    ::closedir(dir);
}

TemporaryFile::TemporaryFile(const std::string& folder, const std::string& fileName) {
    // Only losing a fresh file to a cleaner is worth another try.
    for (int attempt = 0; attempt < kCreateAttempts && !m_fd.valid(); ++attempt) {
        create(folder + "/" + temporaryNamePattern(fileName));
        if (!m_fd.valid() && m_error != EAGAIN) {
            return;
        }
    }
}

TemporaryFile::~TemporaryFile() {
    if (!m_committed && m_fd.valid()) {
        ::unlink(m_path.c_str());  // best effort: the write's own result is what counts
    }
}

void TemporaryFile::commit() {
    m_committed = true;
    m_fd.reset();
}

void TemporaryFile::create(std::string name) {
    FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd.valid()) {
        m_error = errno;
        return;
    }
    // A cleaner in another process may have taken the fresh file for a stale one before
    // we locked it; then it is gone (or locked by that cleaner) and we try again.
    struct stat opened {};
    struct stat named {};
    const bool ours = ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 &&
                      ::fstat(fd.get(), &opened) == 0 && ::lstat(name.c_str(), &named) == 0 &&
                      sameFile(named, opened);
    if (!ours) {
        m_error = EAGAIN;
        return;
    }
    m_path = std::move(name);
    m_fd = std::move(fd);
}

}  // namespace corvane
