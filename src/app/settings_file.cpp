#include "app/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "files/atomic_file_writer.h"
#include "files/file_descriptor.h"

namespace corvane {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

// O_NONBLOCK so that a FIFO put in place of the file cannot hang us; it has no effect
// on regular files.
int openForReading(const std::string& path) {
    return openNoInterrupt(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

// Reads up to `limit` bytes from offset 0; false on a read error.
bool readHead(int fd, std::size_t limit, std::string& out) {
    out.clear();
    std::size_t got = 0;
    while (got < limit) {
        out.resize(std::min(limit, std::max<std::size_t>(got * 2, kReadChunk)));
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

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
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

// Names are matched with blanks trimmed, so they are stored that way too.
std::string_view trimmedName(std::string_view name) {
    const std::size_t begin = name.find_first_not_of(" \t");
    if (begin == std::string_view::npos) {
        return {};
    }
    return name.substr(begin, name.find_last_not_of(" \t") - begin + 1);
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

SettingsFile::SettingsFile(SettingsLocation location)
    : m_path(std::move(location.path)), m_original(std::move(location.original)) {}

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
    Source source;
    return openSource(source) ? source.parsed : nullptr;
}

bool SettingsFile::openSource(Source& source) const {
    int fd = openForReading(m_path);
    // The original stands in only for a per-user file that does not exist at all; one
    // that exists but cannot be read is an unreadable settings file, not a missing one.
    if (fd < 0 && errno == ENOENT && !m_original.empty()) {
        fd = openForReading(m_original);
    }
    const int openError = errno;
    source.fd = FileDescriptor(fd);
    if (!source.fd.valid()) {
        return openError == ENOENT;
    }
    struct stat st {};
    if (::fstat(source.fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    const FileStamp stamp = stampOf(st);
    if (!m_cache || m_cache->stamp != stamp) {
        m_cache = loadFrom(source.fd.get(), stamp);
    }
    source.parsed = m_cache;
    source.size = st.st_size;
    return source.parsed != nullptr;
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
    // A file we cannot read is never replaced: its contents would be lost.
    Source source;
    if (!openSource(source)) {
        return false;
    }
    std::string text = source.parsed ? source.parsed->document.applied(edits)
                                     : IniDocument(std::string()).applied(edits);
    const bool hasTail = source.parsed && source.parsed->parsedBytes < source.size;
    // Only a file already near the parse limit can push new lines out of reach; such a
    // write is refused rather than reported done and then never read.
    if (text.size() > IniDocument::kMaxParsedBytes && !readableAfterwards(text, edits)) {
        return false;
    }
    if (!ensureFolder(folderOf(m_path))) {
        return false;
    }
    const FileWriteResult result = writeFileAtomically(m_path, [&](FileSink& sink) {
        sink.write(text);
        if (hasTail) {
            sink.copyFrom(source.fd.get(), source.parsed->parsedBytes);
        }
    });
    if (!result.saved()) {
        return false;
    }
    if (!hasTail && text.size() <= IniDocument::kMaxParsedBytes) {
        const auto size = static_cast<off_t>(text.size());
        m_cache = std::make_shared<const Parsed>(
            Parsed{stampOf(result.written), IniDocument(std::move(text)), size});
    } else {
        m_cache.reset();
    }
    return true;
}

}  // namespace corvane
