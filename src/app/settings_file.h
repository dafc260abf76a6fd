// The program's settings file: a small INI store read by the Windows private-profile
// rules and changed by in-place edits written through atomic replacement, so that a
// crash or a full disk never leaves a half-written file behind.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/ini_document.h"
#include "app/settings_path.h"
#include "files/file_descriptor.h"

namespace corvane {

// Several writes applied as one atomic replacement of the file.
class SettingsBatch {
public:
    void writeInt(std::string_view section, std::string_view key, std::int32_t value);
    void writeString(std::string_view section, std::string_view key, std::string_view text);
    bool empty() const { return m_edits.empty(); }
    const std::vector<IniEdit>& edits() const { return m_edits; }

private:
    std::vector<IniEdit> m_edits;
};

// Every read looks at the file (no stale values); an unchanged file is parsed once.
// For use from one thread.
//
// With an original (an installed copy's file beside the executable): while the per-user
// file does not exist, reads come from the original, and the first write creates the
// per-user file from the original's whole bytes with the edit applied, in one atomic
// replacement. The original is only ever opened for reading. A per-user file that
// exists but cannot be read is not taken for absent: reads give the defaults and writes
// are refused, as for any unreadable settings file.
class SettingsFile {
public:
    explicit SettingsFile(std::string path);
    explicit SettingsFile(SettingsLocation location);

    const std::string& path() const { return m_path; }
    const std::string& original() const { return m_original; }

    // The key's value parsed as GetPrivateProfileInt does in base 10; `defaultValue`
    // when the key is absent or empty, or the file cannot be read.
    std::int32_t readInt(std::string_view section, std::string_view key,
                         std::int32_t defaultValue) const;
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue = {}) const;

    // False when nothing was changed: the file could not be read or written, or a name or
    // value would break the file's form. The old file is then left as it was.
    bool writeInt(std::string_view section, std::string_view key, std::int32_t value);
    bool writeString(std::string_view section, std::string_view key, std::string_view text);
    bool write(const SettingsBatch& batch);  // all or nothing

    // The "%d" text of a value and its reading back, exposed for the tests.
    static std::string formatInt(std::int32_t value);
    static std::int32_t parseInt(std::string_view text);

private:
    // What identifies one version of the file on disk.
    struct FileStamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        std::int64_t modifiedNs = 0;
        friend bool operator==(const FileStamp&, const FileStamp&) = default;
    };
    struct Parsed {
        FileStamp stamp;
        IniDocument document;
        off_t parsedBytes;  // bytes after this are kept but not read
    };

    // The file that reads and edits start from: open, and parsed unless it is absent.
    struct Source {
        FileDescriptor fd;
        std::shared_ptr<const Parsed> parsed;  // null when there is no file
        off_t size = 0;
    };

    static FileStamp stampOf(const struct stat& st);
    std::shared_ptr<const Parsed> load() const;
    // The file at the path, or the original while that does not exist. False when the
    // file exists but cannot be read or parsed.
    bool openSource(Source& source) const;
    std::shared_ptr<const Parsed> loadFrom(int fd, const FileStamp& stamp) const;
    bool replace(const SettingsBatch& batch);

    std::string m_path;
    std::string m_original;
    mutable std::shared_ptr<const Parsed> m_cache;
};

}  // namespace corvane
