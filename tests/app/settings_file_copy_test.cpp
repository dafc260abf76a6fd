// An installed copy whose folder the user cannot write: the settings file beside it is
// read until the first write, which makes the per-user copy from it; the original is
// never changed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

#include "app/settings_file.h"
#include "app/settings_path.h"
#include "app/settings_test_support.h"

namespace corvane {
namespace {

using testing::folderEntries;
using testing::readWholeFile;
using testing::ScratchFolder;
using testing::writeWholeFile;

const std::string kStoredList =
    "; put here by the administrator\r\n"
    "[List]\r\n"
    "Total=2\r\n"
    "IP0=167880896\r\n"
    "MAC0=00:11:22:33:44:55\r\n"
    "IP1=-939415360\r\n"
    "MAC1=00:11:22:33:44:66\r\n";
// kStoredList after the first module's removal (the second moves up).
const std::string kListLessFirst =
    "; put here by the administrator\r\n"
    "[List]\r\n"
    "Total=1\r\n"
    "IP0=-939415360\r\n"
    "MAC0=00:11:22:33:44:66\r\n"
    "IP1=-939415360\r\n"
    "MAC1=00:11:22:33:44:66\r\n";
const std::string kJunk("\0\x01junk=\xff\n", 9);

void removeFirstModule(SettingsBatch& batch) {
    batch.writeInt("List", "Total", 1);
    batch.writeInt("List", "IP0", -939415360);
    batch.writeString("List", "MAC0", "00:11:22:33:44:66");
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

TEST(SettingsFileCopyTest, FirstWriteCopiesTheOriginalAndLaterOnesUseTheCopy) {
    enum class Kind { file, absent, folder };
    struct Row {
        const char* name;
        Kind original;
        std::string originalText;
        bool copyIsFolder;  // a per-user file that exists but cannot be read
        std::int32_t totalBefore;
        std::optional<std::string> expectedCopy;  // nullopt: the write is refused
    };
    const Row rows[] = {
        {"a stored list beside the executable", Kind::file, kStoredList, false, 2, kListLessFirst},
        {"no file beside the executable", Kind::absent, "", false, -1,
         "[List]\nTotal=1\nIP0=-939415360\nMAC0=00:11:22:33:44:66\n"},
        {"a damaged original", Kind::file, kJunk + "[List]\nTotal=2\n", false, 2,
         kJunk + "[List]\nTotal=1\nIP0=-939415360\nMAC0=00:11:22:33:44:66\n"},
        {"an original that cannot be read", Kind::folder, "", false, -1, std::nullopt},
        {"a copy that cannot be read", Kind::file, kStoredList, true, -1, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchFolder folder;
        const std::string program = folder.file("program");
        ASSERT_TRUE(std::filesystem::create_directory(program));
        const SettingsLocation location = settingsLocationFor(
            program + "/corvane-control", [](const std::string&) { return false; },
            {{"XDG_CONFIG_HOME", folder.file("config")}});
        ASSERT_EQ(location.original, program + "/corvane-control.ini");
        if (row.original == Kind::file) {
            writeWholeFile(location.original, row.originalText);
        } else if (row.original == Kind::folder) {
            ASSERT_TRUE(std::filesystem::create_directory(location.original));
        }
        if (row.copyIsFolder) {
            ASSERT_TRUE(std::filesystem::create_directories(location.path));
        }
        const auto programFolderBefore = folderEntries(program);

        SettingsFile settings(location);
        EXPECT_EQ(settings.readInt("List", "Total", -1), row.totalBefore);
        EXPECT_EQ(exists(folder.file("config")), row.copyIsFolder) << "a read made the copy";
        SettingsBatch batch;
        removeFirstModule(batch);
        const bool written = settings.write(batch);

        EXPECT_EQ(folderEntries(program), programFolderBefore);
        if (row.original == Kind::file) {
            EXPECT_TRUE(readWholeFile(location.original) == row.originalText);
        }
        if (!row.expectedCopy) {
            EXPECT_FALSE(written);
            EXPECT_EQ(exists(folder.file("config")), row.copyIsFolder);
            continue;
        }
        ASSERT_TRUE(written);
        EXPECT_TRUE(readWholeFile(location.path) == *row.expectedCopy);
        struct stat st {};
        ASSERT_EQ(::stat(folder.file("config/corvane-control").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);

        // From now on the copy alone counts, whatever happens to the original.
        writeWholeFile(location.original, "[List]\nTotal=7\n");
        EXPECT_EQ(settings.readInt("List", "Total", -1), 1);
        EXPECT_EQ(SettingsFile(location).readInt("List", "Total", -1), 1);
        ASSERT_TRUE(settings.writeInt("List", "Total", 0));
        std::string expected = *row.expectedCopy;
        expected.replace(expected.find("Total=1"), 7, "Total=0");
        EXPECT_TRUE(readWholeFile(location.path) == expected);
        EXPECT_EQ(readWholeFile(location.original), "[List]\nTotal=7\n");
    }
}

}  // namespace
}  // namespace corvane
