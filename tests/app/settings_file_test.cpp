#include "app/settings_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/settings_test_support.h"

namespace corvane {
namespace {

using testing::folderEntries;
using testing::readWholeFile;
using testing::ScratchFolder;
using testing::writeWholeFile;

// The stored form of an IPv4 address: first octet in the lowest byte, read as signed.
std::int32_t storedForm(std::array<std::uint8_t, 4> octets) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | octets[static_cast<std::size_t>(i)];
    }
    return static_cast<std::int32_t>(value);
}

TEST(SettingsFileTest, IntegersRoundTripAsSignedDecimal) {
    struct Row {
        std::int32_t value;
        const char* text;
    };
    const Row rows[] = {
        {0, "0"},
        {-1, "-1"},
        {storedForm({192, 168, 1, 10}), "167880896"},
        {storedForm({192, 168, 1, 200}), "-939415360"},
        {storedForm({255, 255, 255, 255}), "-1"},
        {INT32_MIN, "-2147483648"},
        {INT32_MAX, "2147483647"},
    };
    ScratchFolder folder;
    const std::string path = folder.file("s.ini");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        SettingsFile settings(path);
        ASSERT_TRUE(settings.writeInt("Config", "LocalIP", row.value));
        EXPECT_EQ(readWholeFile(path), std::string("[Config]\nLocalIP=") + row.text + "\n");
        EXPECT_EQ(settings.readInt("Config", "LocalIP", 5), row.value);
        EXPECT_EQ(SettingsFile(path).readInt("config", "localip", 5), row.value);
    }
}

TEST(SettingsFileTest, ReadIntParsesLikeThePrivateProfileReader) {
    struct Row {
        const char* stored;
        std::int32_t expected;
    };
    const Row rows[] = {
        {"", 77},      // empty value: the default
        {"   ", 77},   // only blanks: empty
        {"\"\"", 77},  // empty between quotes
        {"12", 12},
        {"  -5", -5},
        {"+7", 7},
        {"12abc", 12},  // digits up to the first non-digit
        {"1 2", 1},
        {"abc", 0},  // not a number: zero, not the default
        {"- 5", 0},
        {"0x10", 0},                  // base 10 only
        {"\"42\"", 42},               // quotes removed first
        {"4294967295", -1},           // the unsigned form of the same 32 bits
        {"3355551936", -939415360},   // 192.168.1.200 written unsigned
        {"99999999999", 1215752191},  // wraps modulo 2^32
        {"-2147483648", INT32_MIN},
    };
    ScratchFolder folder;
    const std::string path = folder.file("s.ini");
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("value '") + row.stored + "'");
        writeWholeFile(path, std::string("[S]\nk=") + row.stored + "\n");
        EXPECT_EQ(SettingsFile(path).readInt("S", "k", 77), row.expected);
    }
    EXPECT_EQ(SettingsFile(path).readInt("S", "absent", 77), 77);
    EXPECT_EQ(SettingsFile(folder.file("missing.ini")).readInt("S", "k", 77), 77);
}

TEST(SettingsFileTest, TextsRoundTrip) {
    const char* texts[] = {
        "",
        "plain",
        "00:1A:2B:3C:4D:5E",
        "a=b=c",
        "  leading blanks",
        "trailing blanks\t ",
        "\"wrapped in quotes\"",
        "\"",
        "\"half",
        "; not a comment",
        "[not a section]",
        "Устройство 1",
    };
    ScratchFolder folder;
    const std::string path = folder.file("s.ini");
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        SettingsFile writer(path);
        ASSERT_TRUE(writer.writeString("List", "MAC0", text));
        EXPECT_EQ(SettingsFile(path).readString("list", "mac0", "default"), text);
    }
    EXPECT_EQ(SettingsFile(path).readString("List", "absent"), "");
    EXPECT_EQ(SettingsFile(path).readString("List", "absent", "fallback"), "fallback");
}

// A file as the Windows tools leave it: CR LF, names in any case, blanks, comments,
// duplicates, keys before the first section and a repeated section.
const std::string kWindowsFile =
    "orphan=1\r\n"
    "; Corvane settings\r\n"
    "[layout]\r\n"
    "  LEFT = 10 \r\n"
    "Top=20\r\n"
    "# comment = 5\r\n"
    "\r\n"
    "[List]\r\n"
    "Total = \"2\"\r\n"
    "ip0=167880896\r\n"
    "IP0=1\r\n"
    "a line without equals\r\n"
    "MAC0 =  00:1A:2B:3C:4D:5E  \r\n"
    "[LAYOUT]\r\n"
    "Width=999\r\n"
    "Left=5\r\n";

TEST(SettingsFileTest, ReadsAFileWrittenTheWindowsWay) {
    struct Row {
        const char* section;
        const char* key;
        std::int32_t expected;
    };
    const Row rows[] = {
        {"Layout", "Left", 10},  // blanks and case ignored; first section counts
        {"LAYOUT", "top", 20},
        {"Layout", "Width", -1},      // only in the repeated section: not seen
        {"Layout", "# comment", -1},  // comment lines are not keys
        {"List", "Total", 2},         // quotes removed
        {"list", "IP0", 167880896},   // first of two duplicates
        {"List", "a line without equals", -1},
        {"", "orphan", -1},  // before any section: ignored
        {"Missing", "Left", -1},
    };
    ScratchFolder folder;
    const std::string path = folder.file("s.ini");
    writeWholeFile(path, kWindowsFile);
    SettingsFile settings(path);
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.section) + "/" + row.key);
        EXPECT_EQ(settings.readInt(row.section, row.key, -1), row.expected);
    }
    EXPECT_EQ(settings.readString("List", "mac0"), "00:1A:2B:3C:4D:5E");
}

struct EditRow {
    const char* name;
    std::string original;
    std::vector<std::array<const char*, 3>> edits;  // section, key, value
    std::string expected;
};

TEST(SettingsFileTest, EditsInPlaceAndKeepEveryOtherByte) {
    const EditRow rows[] = {
        {"windows file: change, insert, new section; CR LF kept",
         kWindowsFile,
         {{"Layout", "left", "11"},
          {"LAYOUT", "Height", "300"},
          {"Config", "LocalIP", "-939415360"}},
         "orphan=1\r\n; Corvane settings\r\n[layout]\r\n  LEFT = 11 \r\nTop=20\r\nHeight=300\r\n"
         "# comment = 5\r\n\r\n[List]\r\nTotal = \"2\"\r\nip0=167880896\r\nIP0=1\r\n"
         "a line without equals\r\nMAC0 =  00:1A:2B:3C:4D:5E  \r\n[LAYOUT]\r\nWidth=999\r\n"
         "Left=5\r\n[Config]\r\nLocalIP=-939415360\r\n"},
        {"new file uses LF",
         "",
         {{"Layout", "Left", "1"}, {"Layout", "Top", "2"}, {"List", "Total", "0"}},
         "[Layout]\nLeft=1\nTop=2\n[List]\nTotal=0\n"},
        {"last line without line ending: key inserted after it",
         "[A]\nx=1",
         {{"A", "y", "2"}},
         "[A]\nx=1\ny=2\n"},
        {"last line without line ending: new section after it",
         "[A]\r\nx=1",
         {{"B", "z", "3"}},
         "[A]\r\nx=1\r\n[B]\r\nz=3\r\n"},
        {"section without keys: key goes right after the header",
         "[A]\n; note\n\n[B]\n",
         {{"A", "k", "v"}},
         "[A]\nk=v\n; note\n\n[B]\n"},
        {"duplicate keys: the first is changed, the second kept",
         "[S]\nk=1\nk=2\n",
         {{"S", "K", "9"}},
         "[S]\nk=9\nk=2\n"},
        {"a key written twice in one batch ends as one line",
         "[S]\n",
         {{"S", "a", "1"}, {"T", "b", "1"}, {"S", "a", "2"}, {"t", "B", "3"}},
         "[S]\na=2\n[T]\nb=3\n"},
        {"quoted value replaced; a value needing quotes gets them",
         "[S]\nk = \"old\" \nm=x\n",
         {{"S", "k", "new"}, {"S", "m", " padded "}},
         "[S]\nk = new \nm=\" padded \"\n"},
        {"empty value filled in", "[S]\nk=\nl=2\n", {{"S", "k", "1"}}, "[S]\nk=1\nl=2\n"},
        {"keys before any section stay where they are",
         "k=1\n[S]\n",
         {{"S", "k", "2"}},
         "k=1\n[S]\nk=2\n"},
        {"UTF-8 byte order mark kept", "\xEF\xBB\xBF", {{"S", "k", "1"}}, "\xEF\xBB\xBF[S]\nk=1\n"},
    };
    ScratchFolder folder;
    const std::string path = folder.file("s.ini");
    for (const EditRow& row : rows) {
        SCOPED_TRACE(row.name);
        writeWholeFile(path, row.original);
        SettingsBatch batch;
        for (const auto& [section, key, value] : row.edits) {
            batch.writeString(section, key, value);
        }
        SettingsFile settings(path);
        ASSERT_TRUE(settings.write(batch));
        EXPECT_EQ(readWholeFile(path), row.expected);
        for (const auto& [section, key, value] : row.edits) {
            EXPECT_FALSE(settings.readString(section, key, "absent") == "absent");
        }
        EXPECT_EQ(folderEntries(folder.path()).size(), 1u) << "temporary file left behind";
    }
}

TEST(SettingsFileTest, RefusesNamesAndValuesThatWouldBreakTheFile) {
    struct Row {
        std::string section;
        std::string key;
        std::string value;
    };
    const Row rows[] = {
        {"S", "k", "two\nlines"},
        {"S", "k", "carriage\rreturn"},
        {"S", "k", std::string("nul\0byte", 8)},
        {"S", "k=v", "1"},
        {"S]", "k", "1"},
        {"S", "", "1"},
        {"", "k", "1"},
        {"S", ";k", "1"},
        {"S", "[k", "1"},
        {"S\n[T", "k", "1"},
    };
    ScratchFolder folder;
    const std::string path = folder.file("s.ini");
    writeWholeFile(path, "[S]\nk=old\n");
    SettingsFile settings(path);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.section + "/" + row.key);
        EXPECT_FALSE(settings.writeString(row.section, row.key, row.value));
        // A batch is all or nothing: its valid edit is not applied either.
        SettingsBatch batch;
        batch.writeString("S", "k", "new");
        batch.writeString(row.section, row.key, row.value);
        EXPECT_FALSE(settings.write(batch));
        EXPECT_EQ(readWholeFile(path), "[S]\nk=old\n");
    }
    // Blanks around names are not part of them.
    EXPECT_TRUE(settings.writeString(" S ", "\tk ", "new"));
    EXPECT_EQ(readWholeFile(path), "[S]\nk=new\n");
}

TEST(SettingsFileTest, ReadsNeverReturnStaleValues) {
    ScratchFolder folder;
    const std::string path = folder.file("s.ini");
    SettingsFile settings(path);
    ASSERT_TRUE(settings.writeInt("S", "k", 1));
    EXPECT_EQ(settings.readInt("S", "k", 0), 1);

    // Rewritten in place by someone else: other size.
    writeWholeFile(path, "[S]\nk=22\n");
    EXPECT_EQ(settings.readInt("S", "k", 0), 22);

    // Same size and inode, other contents: the modification time tells.
    writeWholeFile(path, "[S]\nk=33\n");
    const timespec times[2] = {{1000, 1}, {1000, 1}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(settings.readInt("S", "k", 0), 33);

    // Removed: defaults again, and a write brings the file back.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_EQ(settings.readInt("S", "k", -4), -4);
    ASSERT_TRUE(settings.writeInt("S", "k", 5));
    EXPECT_EQ(readWholeFile(path), "[S]\nk=5\n");
}

// Mode bits, owners and links of the file itself are the atomic writer's (tests/files).
TEST(SettingsFileTest, CreatesMissingFoldersPrivate) {
    ScratchFolder folder;
    const mode_t oldMask = ::umask(022);
    const std::string path = folder.file("a/b/settings.ini");
    SettingsFile settings(path);
    EXPECT_EQ(settings.readInt("S", "k", 9), 9);
    const bool written = settings.writeInt("S", "k", 1);
    ::umask(oldMask);
    ASSERT_TRUE(written);
    for (const char* made : {"a", "a/b"}) {
        struct stat st {};
        ASSERT_EQ(::stat(folder.file(made).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u) << made;
    }
    EXPECT_EQ(readWholeFile(path), "[S]\nk=1\n");
}

TEST(SettingsFileTest, PathLongerThan260CharactersWorks) {
    ScratchFolder folder;
    std::string path = folder.path();
    while (path.size() < 300) {
        path += "/a-rather-long-folder-name";
    }
    path += "/corvane-control.ini";
    ASSERT_GT(path.size(), 300u);
    SettingsFile settings(path);
    ASSERT_TRUE(settings.writeInt("Config", "LocalIP", -939415360));
    EXPECT_EQ(SettingsFile(path).readInt("Config", "LocalIP", 0), -939415360);
}

}  // namespace
}  // namespace corvane
