#include "app/settings_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <utility>

namespace corvane {

namespace {

// Temporary files are named "<file name>.tmp.XXXXXX" beside the file they replace.
constexpr std::string_view kTempInfix = ".tmp.";
constexpr std::size_t kTempRandomLength = 6;  // mkstemp's XXXXXX
constexpr int kTempCreateAttempts = 3;
constexpr std::size_t kCopyChunk = 64 * 1024;

// Closes the descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    ~FileDescriptor() { reset(); }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now and reports whether the close succeeded.
    bool reset() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

int openNoInterrupt(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// O_NONBLOCK so that a FIFO put in place of the file cannot hang us; it has no effect
// on regular files.
int openForReading(const std::string& path) {
    return openNoInterrupt(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Reads up to `limit` bytes from offset 0; false on a read error.
bool readHead(int fd, std::size_t limit, std::string& out) {
    out.clear();
    std::size_t got = 0;
    while (got < limit) {
        out.resize(std::min(limit, std::max<std::size_t>(got * 2, kCopyChunk)));
        const ssize_t n = ::pread(fd, out.data() + got, out.size() - got, static_cast<off_t>(got));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return true;
}

// Streams the bytes of `from` starting at `offset` to the end of `to`.
bool copyRest(int from, off_t offset, int to) {
    std::string buffer(kCopyChunk, '\0');
    for (;;) {
        const ssize_t n = ::pread(from, buffer.data(), buffer.size(), offset);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (!writeAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
            return false;
        }
        offset += n;
    }
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

// Creates the folder and any missing parents, each with mode 0700 (settings are private).
bool ensureFolder(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    if (errno != ENOENT) {
        return false;
    }
    const std::string parent = folderOf(folder);
    if (parent != folder && !ensureFolder(parent)) {
        return false;
    }
    if (::mkdir(folder.c_str(), 0700) == 0) {
        return true;
    }
    return errno == EEXIST && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
    // Older kernels: the set-and-restore pair is safe because the program has one thread.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// A settings path that is a symbolic link (a dotfile kept elsewhere) stays a link: the
// replacement happens where it points.
std::string resolvedTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        return path;
    }
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
        return path;  // a dangling link is replaced by the file itself
    }
    return resolved;
}

bool isTempName(std::string_view name, std::string_view fileName) {
    if (!name.starts_with(fileName) ||
        name.size() != fileName.size() + kTempInfix.size() + kTempRandomLength) {
        return false;
    }
    name.remove_prefix(fileName.size());
    if (!name.starts_with(kTempInfix)) {
        return false;
    }
    name.remove_prefix(kTempInfix.size());
    for (char c : name) {
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum) {
            return false;
        }
    }
    return true;
}

// Removes temporary files left by writers that died (killed, power cut) before their
// rename. A live writer holds an exclusive flock on its temporary file from creation to
// rename, so a file we can lock belongs to nobody. Best effort: a file we cannot open,
// lock or remove is left for a later write and does not make this write fail.
void removeStaleTemps(const std::string& folder, const std::string& fileName) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTempName(entry->d_name, fileName)) {
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
        if (::lstat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino) {
            ::unlink(path.c_str());
        }
    }
    ::closedir(dir);
}

// A locked temporary file that is removed, with its descriptor closed, unless commit()
// is called after the rename.
class TempFile {
public:
    TempFile(const std::string& folder, const std::string& fileName) {
        for (int attempt = 0; attempt < kTempCreateAttempts && !m_fd.valid(); ++attempt) {
            create(folder + "/" + fileName + std::string(kTempInfix) +
                   std::string(kTempRandomLength, 'X'));
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!m_committed && m_fd.valid()) {
            ::unlink(m_path.c_str());
        }
    }
    bool valid() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    const std::string& path() const { return m_path; }
    // After the rename: the name is the target's now and must not be removed. The close
    // also drops the lock; its result does not matter after a successful fsync.
    void commit() {
        m_committed = true;
        m_fd.reset();
    }

private:
    void create(std::string name) {
        FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));
        if (!fd.valid()) {
            return;
        }
        // A cleaner in another process may have taken the fresh file for a stale one
        // before we locked it; then it is gone (or locked by that cleaner) and we retry.
        struct stat opened {};
        struct stat named {};
        const bool ours = ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 &&
                          ::fstat(fd.get(), &opened) == 0 && ::lstat(name.c_str(), &named) == 0 &&
                          named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
        if (!ours) {
            fd.reset();
            return;
        }
        m_path = std::move(name);
        m_fd = std::move(fd);
    }

    FileDescriptor m_fd;
    std::string m_path;
    bool m_committed = false;
};

// Names are matched with blanks trimmed, so they are stored that way too.
std::string_view trimmedName(std::string_view name) {
    const std::size_t begin = name.find_first_not_of(" \t");
    if (begin == std::string_view::npos) {
        return {};
    }
    return name.substr(begin, name.find_last_not_of(" \t") - begin + 1);
}

// Makes the rename itself durable. A failure here is not reported: the new file is
// already in place, and saying "failed" would wrongly suggest that the old one remains.
void syncFolder(const std::string& folder) {
    FileDescriptor fd(openNoInterrupt(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) {
        ::fsync(fd.get());
    }
}

// True when every edit reads back from the part of `text` that a later read parses.
bool readableAfterwards(const std::string& text, const std::vector<IniEdit>& edits) {
    std::string head = text.substr(0, IniDocument::kMaxParsedBytes);
    if (text.size() > IniDocument::kMaxParsedBytes) {
        const std::size_t newline = head.rfind('\n');
        head.resize(newline == std::string::npos ? 0 : newline + 1);
    }
    const IniDocument document(std::move(head));
    for (const IniEdit& edit : edits) {
        if (!document.find(edit.section, edit.key)) {
            return false;
        }
    }
    return true;
}

}  // namespace

void SettingsBatch::writeInt(std::string_view section, std::string_view key, std::int32_t value) {
    writeString(section, key, SettingsFile::formatInt(value));
}

void SettingsBatch::writeString(std::string_view section, std::string_view key,
                                std::string_view text) {
    m_edits.push_back(
        {std::string(trimmedName(section)), std::string(trimmedName(key)), std::string(text)});
}

SettingsFile::SettingsFile(std::string path) : m_path(std::move(path)) {}

SettingsFile::FileStamp SettingsFile::stampOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size,
            std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
}

std::string SettingsFile::formatInt(std::int32_t value) {
    return std::to_string(value);
}

// Like GetPrivateProfileInt: leading blanks, an optional sign, then decimal digits up to
// the first other character, accumulated modulo 2^32 so that any "%d" text, and the
// unsigned form of the same pattern, reads back as the 32 bits that were written.
std::int32_t SettingsFile::parseInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t SettingsFile::readInt(std::string_view section, std::string_view key,
                                   std::int32_t defaultValue) const {
    try {
        const auto parsed = load();
        if (!parsed) {
            return defaultValue;
        }
        const auto value = parsed->document.find(section, key);
        return (value && !value->empty()) ? parseInt(*value) : defaultValue;
    } catch (...) {  // out of memory on a damaged file: behave as if it were absent
        return defaultValue;
    }
}

std::string SettingsFile::readString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue) const {
    try {
        const auto parsed = load();
        if (parsed) {
            if (const auto value = parsed->document.find(section, key)) {
                return std::string(*value);
            }
        }
        return std::string(defaultValue);
    } catch (...) {
        return {};
    }
}

bool SettingsFile::writeInt(std::string_view section, std::string_view key, std::int32_t value) {
    SettingsBatch batch;
    batch.writeInt(section, key, value);
    return write(batch);
}

bool SettingsFile::writeString(std::string_view section, std::string_view key,
                               std::string_view text) {
    SettingsBatch batch;
    batch.writeString(section, key, text);
    return write(batch);
}

bool SettingsFile::write(const SettingsBatch& batch) {
    try {
        return replace(batch);
    } catch (...) {  // out of memory: nothing was renamed, the old file stands
        m_cache.reset();
        return false;
    }
}

std::shared_ptr<const SettingsFile::Parsed> SettingsFile::load() const {
    FileDescriptor fd(openForReading(m_path));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return nullptr;
    }
    const FileStamp stamp = stampOf(st);
    if (!m_cache || m_cache->stamp != stamp) {
        m_cache = loadFrom(fd.get(), stamp);
    }
    return m_cache;
}

// Parses at most IniDocument::kMaxParsedBytes; a longer file is cut after its last whole
// line within that limit, and the rest is carried through writes unread.
std::shared_ptr<const SettingsFile::Parsed> SettingsFile::loadFrom(int fd,
                                                                   const FileStamp& stamp) const {
    std::string head;
    if (!readHead(fd, IniDocument::kMaxParsedBytes + 1, head)) {
        return nullptr;
    }
    if (head.size() > IniDocument::kMaxParsedBytes) {
        const std::size_t newline = head.rfind('\n', IniDocument::kMaxParsedBytes - 1);
        head.resize(newline == std::string::npos ? 0 : newline + 1);
    }
    const auto parsedBytes = static_cast<off_t>(head.size());
    return std::make_shared<const Parsed>(Parsed{stamp, IniDocument(std::move(head)), parsedBytes});
}

bool SettingsFile::replace(const SettingsBatch& batch) {
    const std::vector<IniEdit>& edits = batch.edits();
    if (edits.empty()) {
        return true;
    }
    for (const IniEdit& edit : edits) {
        if (!IniDocument::isValidEdit(edit)) {
            return false;
        }
    }
    const std::string target = resolvedTarget(m_path);
    const std::string folder = folderOf(target);
    const std::string fileName = fileNameOf(target);
    if (!ensureFolder(folder)) {
        return false;
    }

    // A file we cannot read is never replaced: its contents would be lost.
    FileDescriptor source(openForReading(target));
    struct stat st {};
    std::shared_ptr<const Parsed> parsed;
    if (source.valid()) {
        if (::fstat(source.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            return false;
        }
        const FileStamp stamp = stampOf(st);
        parsed = (m_cache && m_cache->stamp == stamp) ? m_cache : loadFrom(source.get(), stamp);
        if (!parsed) {
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }

    std::string text =
        parsed ? parsed->document.applied(edits) : IniDocument(std::string()).applied(edits);
    const bool hasTail = parsed && parsed->parsedBytes < st.st_size;
    // Only a file already near the parse limit can push new lines out of reach; such a
    // write is refused rather than reported done and then never read.
    if (text.size() > IniDocument::kMaxParsedBytes && !readableAfterwards(text, edits)) {
        return false;
    }

    removeStaleTemps(folder, fileName);
    TempFile temp(folder, fileName);
    if (!temp.valid() || !writeAll(temp.fd(), text)) {
        return false;
    }
    if (hasTail && !copyRest(source.get(), parsed->parsedBytes, temp.fd())) {
        return false;
    }
    // Root editing a user's file keeps it the user's (chown first: it may clear mode bits).
    if (source.valid() && ::geteuid() == 0 && ::fchown(temp.fd(), st.st_uid, st.st_gid) != 0) {
        return false;
    }
    const mode_t mode = source.valid() ? (st.st_mode & 07777) : (0666 & ~currentUmask());
    struct stat written {};
    if (::fchmod(temp.fd(), mode) != 0 || ::fsync(temp.fd()) != 0 ||
        ::fstat(temp.fd(), &written) != 0) {
        return false;
    }
    if (::rename(temp.path().c_str(), target.c_str()) != 0) {
        return false;
    }
    temp.commit();
    syncFolder(folder);

    if (!hasTail && text.size() <= IniDocument::kMaxParsedBytes) {
        const auto size = static_cast<off_t>(text.size());
        m_cache = std::make_shared<const Parsed>(
            Parsed{stampOf(written), IniDocument(std::move(text)), size});
    } else {
        m_cache.reset();
    }
    return true;
}

}  // namespace corvane
