#include "app/ini_document.h"

#include <algorithm>
#include <limits>
#include <map>
#include <utility>

namespace corvane {

namespace {

constexpr std::uint32_t kNoSection = std::numeric_limits<std::uint32_t>::max();
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), lowerAscii);
    return result;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

// FNV-1a over the lower-cased bytes, so that names differing only in case collide.
std::uint32_t hashNoCase(std::string_view text, std::uint32_t seed = 2166136261u) {
    std::uint32_t hash = seed;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(lowerAscii(c));
        hash *= 16777619u;
    }
    return hash;
}

std::uint32_t entryHash(std::uint32_t section, std::string_view key) {
    return hashNoCase(key, 2166136261u ^ (section * 0x9E3779B1u));
}

// Narrows [begin, end) to the part without blanks at either end.
void trim(std::string_view text, std::size_t& begin, std::size_t& end) {
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
}

std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

bool hasStructuralCharacter(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool isTrimmedName(std::string_view name) {
    return !name.empty() && !isBlank(name.front()) && !isBlank(name.back()) &&
           !hasStructuralCharacter(name);
}

}  // namespace

template <class Equal>
std::optional<std::uint32_t> IniDocument::FlatIndex::find(std::uint32_t hash, Equal equal) const {
    if (m_slots.empty()) {
        return std::nullopt;
    }
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const std::uint64_t slot = m_slots[i];
        if (slot == 0) {
            return std::nullopt;
        }
        const auto element = static_cast<std::uint32_t>(slot & 0xFFFFFFFFu) - 1;
        if ((slot >> 32) == hash && equal(element)) {
            return element;
        }
    }
}

void IniDocument::FlatIndex::insert(std::uint32_t hash, std::uint32_t element) {
    if ((m_used + 1) * 2 > m_slots.size()) {
        grow();
    }
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = hash & mask;
    while (m_slots[i] != 0) {
        i = (i + 1) & mask;
    }
    m_slots[i] = (std::uint64_t{hash} << 32) | (std::uint64_t{element} + 1);
    ++m_used;
}

void IniDocument::FlatIndex::grow() {
    std::vector<std::uint64_t> old = std::move(m_slots);
    m_slots.assign(old.empty() ? 16 : old.size() * 2, 0);
    const std::size_t mask = m_slots.size() - 1;
    for (std::uint64_t slot : old) {
        if (slot == 0) {
            continue;
        }
        std::size_t i = (slot >> 32) & mask;
        while (m_slots[i] != 0) {
            i = (i + 1) & mask;
        }
        m_slots[i] = slot;
    }
}

IniDocument::IniDocument(std::string text) : m_text(std::move(text)) {
    if (m_text.size() > kMaxParsedBytes) {
        // The caller is meant to cut at a line boundary; this only keeps offsets in range.
        m_text.resize(kMaxParsedBytes);
    }
    parse();
}

void IniDocument::parse() {
    const std::size_t newline = m_text.find('\n');
    if (newline != std::string::npos && newline > 0 && m_text[newline - 1] == '\r') {
        m_lineEnding = "\r\n";
    }
    std::size_t pos = m_text.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
    std::uint32_t current = kNoSection;
    while (pos < m_text.size()) {
        const std::size_t lineEnd = std::min(m_text.find('\n', pos), m_text.size());
        const std::size_t next = lineEnd < m_text.size() ? lineEnd + 1 : lineEnd;
        parseLine(pos, lineEnd, next, current);
        pos = next;
    }
}

// `current` is the section that keys on this line belong to, or kNoSection before the
// first section and inside a repeated section (only the first of a name counts).
void IniDocument::parseLine(std::size_t begin, std::size_t end, std::size_t next,
                            std::uint32_t& current) {
    trim(m_text, begin, end);
    if (begin == end || m_text[begin] == ';' || m_text[begin] == '#') {
        return;
    }
    const std::string_view text(m_text);
    if (text[begin] == '[') {
        std::size_t nameBegin = begin + 1;
        std::size_t nameEnd = std::min(text.find(']', nameBegin), end);
        trim(text, nameBegin, nameEnd);
        const std::string_view name = text.substr(nameBegin, nameEnd - nameBegin);
        if (findSection(name)) {
            current = kNoSection;
            return;
        }
        current = static_cast<std::uint32_t>(m_sections.size());
        m_sections.push_back({static_cast<std::uint32_t>(nameBegin),
                              static_cast<std::uint32_t>(name.size()),
                              static_cast<std::uint32_t>(next)});
        m_sectionIndex.insert(hashNoCase(name), current);
        return;
    }
    const std::size_t equals = text.substr(0, end).find('=', begin);
    if (equals == std::string_view::npos || current == kNoSection) {
        return;
    }
    m_sections[current].insertAt = static_cast<std::uint32_t>(next);
    std::size_t keyEnd = equals;
    trim(text, begin, keyEnd);
    std::size_t valueBegin = equals + 1;
    trim(text, valueBegin, end);
    const std::string_view key = text.substr(begin, keyEnd - begin);
    if (key.empty() || findEntry(current, key)) {
        return;
    }
    const auto element = static_cast<std::uint32_t>(m_entries.size());
    m_entries.push_back(
        {current, static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(key.size()),
         static_cast<std::uint32_t>(valueBegin), static_cast<std::uint32_t>(end - valueBegin)});
    m_entryIndex.insert(entryHash(current, key), element);
}

std::optional<std::uint32_t> IniDocument::findSection(std::string_view name) const {
    return m_sectionIndex.find(hashNoCase(name), [&](std::uint32_t element) {
        const Section& section = m_sections[element];
        return equalNoCase(view(section.nameOffset, section.nameLength), name);
    });
}

std::optional<std::uint32_t> IniDocument::findEntry(std::uint32_t section,
                                                    std::string_view key) const {
    return m_entryIndex.find(entryHash(section, key), [&](std::uint32_t element) {
        const Entry& entry = m_entries[element];
        return entry.section == section && equalNoCase(view(entry.keyOffset, entry.keyLength), key);
    });
}

std::optional<std::string_view> IniDocument::find(std::string_view section,
                                                  std::string_view key) const {
    const auto sectionId = findSection(section);
    if (!sectionId) {
        return std::nullopt;
    }
    const auto entryId = findEntry(*sectionId, key);
    if (!entryId) {
        return std::nullopt;
    }
    const Entry& entry = m_entries[*entryId];
    return unquoted(view(entry.valueOffset, entry.valueLength));
}

bool IniDocument::isValidEdit(const IniEdit& edit) {
    if (!isTrimmedName(edit.section) || edit.section.find(']') != std::string::npos) {
        return false;
    }
    if (!isTrimmedName(edit.key) || edit.key.find('=') != std::string::npos) {
        return false;
    }
    const char first = edit.key.front();
    if (first == '[' || first == ';' || first == '#') {
        return false;
    }
    return !hasStructuralCharacter(edit.value);
}

std::string IniDocument::encodeValue(std::string_view value) {
    const bool needsQuotes =
        !value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                           (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
    if (!needsQuotes) {
        return std::string(value);
    }
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted += '"';
    quoted += value;
    quoted += '"';
    return quoted;
}

namespace {

// A change planned against the original text: a new value for the bytes at
// [offset, offset + length), or (length == npos) a new key line inserted at offset.
struct PlannedChange {
    std::size_t offset;
    std::size_t length;
    std::string key;
    std::string value;  // encoded
};

struct NewSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;  // key, encoded value
};

constexpr std::size_t kInsertion = std::string::npos;

// Starts a new line in `out` unless it already stands at the beginning of one.
void startLine(std::string& out, std::string_view lineEnding) {
    if (!out.empty() && out.back() != '\n' && out != kUtf8Bom) {
        out += lineEnding;
    }
}

void appendKeyLine(std::string& out, std::string_view key, std::string_view value,
                   std::string_view lineEnding) {
    startLine(out, lineEnding);
    out += key;
    out += '=';
    out += value;
    out += lineEnding;
}

}  // namespace

// What a batch of edits does to the text: new values and inserted key lines at places
// in the original, and sections that are not there yet, appended at the end.
struct IniDocument::EditPlan {
    std::vector<PlannedChange> changes;
    std::vector<NewSection> newSections;
};

IniDocument::EditPlan IniDocument::planned(const std::vector<IniEdit>& edits) const {
    EditPlan plan;
    auto& [changes, newSections] = plan;
    // Where each edited key went, so that a later edit of the same key in one batch
    // replaces the earlier value instead of adding a second line.
    struct Target {
        bool inNewSection;
        std::size_t index;
        std::size_t keyIndex;
    };
    std::map<std::string, Target> targets;         // "section\nkey", lower-cased
    std::map<std::string, std::size_t> newByName;  // section lower-cased -> newSections index
    for (const IniEdit& edit : edits) {
        std::string value = encodeValue(edit.value);
        const std::string sectionId = lowered(edit.section);
        const std::string id = sectionId + '\n' + lowered(edit.key);
        if (const auto it = targets.find(id); it != targets.end()) {
            const Target& t = it->second;
            (t.inNewSection ? newSections[t.index].keys[t.keyIndex].second
                            : changes[t.index].value) = std::move(value);
            continue;
        }
        if (const auto section = findSection(edit.section)) {
            if (const auto entry = findEntry(*section, edit.key)) {
                const Entry& e = m_entries[*entry];
                changes.push_back({e.valueOffset, e.valueLength, {}, std::move(value)});
            } else {
                changes.push_back(
                    {m_sections[*section].insertAt, kInsertion, edit.key, std::move(value)});
            }
            targets.emplace(id, Target{false, changes.size() - 1, 0});
            continue;
        }
        const auto [it, added] = newByName.emplace(sectionId, newSections.size());
        if (added) {
            newSections.push_back({edit.section, {}});
        }
        auto& keys = newSections[it->second].keys;
        keys.emplace_back(edit.key, std::move(value));
        targets.emplace(id, Target{true, it->second, keys.size() - 1});
    }
    // Insertions at one place keep the order of the edits.
    std::stable_sort(
        changes.begin(), changes.end(),
        [](const PlannedChange& a, const PlannedChange& b) { return a.offset < b.offset; });
    return plan;
}

std::string IniDocument::applied(const std::vector<IniEdit>& edits) const {
    const EditPlan plan = planned(edits);
    std::string out;
    out.reserve(m_text.size() + edits.size() * 32);
    std::size_t copied = 0;
    for (const PlannedChange& change : plan.changes) {
        out.append(m_text, copied, change.offset - copied);
        copied = change.offset;
        if (change.length == kInsertion) {
            appendKeyLine(out, change.key, change.value, m_lineEnding);
        } else {
            out += change.value;
            copied += change.length;
        }
    }
    out.append(m_text, copied);
    for (const NewSection& section : plan.newSections) {
        startLine(out, m_lineEnding);
        out += '[';
        out += section.name;
        out += ']';
        out += m_lineEnding;
        for (const auto& [key, value] : section.keys) {
            appendKeyLine(out, key, value, m_lineEnding);
        }
    }
    return out;
}

}  // namespace corvane
