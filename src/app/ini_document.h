// The text of an INI settings file, parsed by the reading rules of the Windows
// private-profile functions, and the in-place edits that keep everything else in the
// file byte for byte. No file access here: SettingsFile does the reading and writing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// One change to make: the value is the text to store, before any quoting.
struct IniEdit {
    std::string section;
    std::string key;
    std::string value;
};

class IniDocument {
public:
    // The largest text we parse. Real settings files are a few kilobytes (at most 128
    // devices); the cap keeps a damaged or hostile file from costing unbounded time and
    // memory. SettingsFile passes only the head of a longer file and keeps the rest.
    static constexpr std::size_t kMaxParsedBytes = 8u << 20;

    // `text` is at most kMaxParsedBytes and, when it is the head of a longer file, ends
    // at a line boundary.
    explicit IniDocument(std::string text);

    // The value of the first occurrence of `key` in the first section named `section`
    // (both ASCII case-insensitive, blanks trimmed), blanks trimmed and one pair of
    // enclosing double quotes removed; nullopt when absent.
    std::optional<std::string_view> find(std::string_view section, std::string_view key) const;

    // The text with the edits applied in order: a present key gets its new value in
    // place (key text and everything else on the line kept), a missing key is inserted
    // after the last key line of its section, a missing section is added at the end.
    // The edits must have passed isValidEdit.
    std::string applied(const std::vector<IniEdit>& edits) const;

    const std::string& text() const { return m_text; }
    // "\r\n" when the first line of the text ends so, else "\n".
    std::string_view lineEnding() const { return m_lineEnding; }

    // Names must be non-empty, without blanks around them and unable to change the
    // file's structure (no line breaks, NUL, '=' in keys, ']' in sections, no leading
    // '[', ';' or '#'); values must have no line break or NUL.
    static bool isValidEdit(const IniEdit& edit);
    // The value as written to the file: quoted when it has blanks at either end or is
    // itself wrapped in double quotes, so it reads back unchanged.
    static std::string encodeValue(std::string_view value);

private:
    struct Section {
        std::uint32_t nameOffset;
        std::uint32_t nameLength;
        std::uint32_t insertAt;  // just past the last key line (or the header line)
    };
    struct Entry {
        std::uint32_t section;
        std::uint32_t keyOffset;
        std::uint32_t keyLength;
        std::uint32_t valueOffset;  // raw value, blanks trimmed, quotes still on
        std::uint32_t valueLength;
    };
    // Open-addressing index of 32-bit hashes and element numbers; compact, so a file
    // with millions of keys stays within a small multiple of its size.
    class FlatIndex {
    public:
        template <class Equal>
        std::optional<std::uint32_t> find(std::uint32_t hash, Equal equal) const;
        void insert(std::uint32_t hash, std::uint32_t element);

    private:
        void grow();
        std::vector<std::uint64_t> m_slots;  // (hash << 32) | (element + 1); 0 is empty
        std::size_t m_used = 0;
    };

    struct EditPlan;
    EditPlan planned(const std::vector<IniEdit>& edits) const;
    void parse();
    void parseLine(std::size_t begin, std::size_t end, std::size_t next, std::uint32_t& current);
    std::optional<std::uint32_t> findSection(std::string_view name) const;
    std::optional<std::uint32_t> findEntry(std::uint32_t section, std::string_view key) const;
    std::string_view view(std::uint32_t offset, std::uint32_t length) const {
        return std::string_view(m_text).substr(offset, length);
    }

    std::string m_text;
    std::string m_lineEnding = "\n";
    std::vector<Section> m_sections;  // first occurrence of each name only
    std::vector<Entry> m_entries;     // first occurrence of each key only
    FlatIndex m_sectionIndex;
    FlatIndex m_entryIndex;
};

}  // namespace corvane
