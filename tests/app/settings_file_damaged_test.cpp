// Damaged, huge and protected settings files: reads give what can be read, writes keep
// everything they do not change, and a write that cannot be done leaves the file alone.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "app/ini_document.h"
#include "app/settings_file.h"
#include "app/settings_test_support.h"

namespace corvane {
namespace {

using testing::folderEntries;
using testing::readWholeFile;
using testing::ScratchFolder;
using testing::writeWholeFile;

TEST(SettingsFileDamagedTest, ReadsWhatCanBeReadAndWritesKeepTheRest) {
    const std::string megabyteLine(1 << 20, 'x');
    const std::string nulJunk("\0\0\x01garbage\xff\n", 12);
    struct Row {
        const char* name;
        std::string original;
        std::string expectedAfterWrite;  // after S/k = 7
        std::int32_t aBefore;            // S/a before the write
    };
    const Row rows[] = {
        {"NUL bytes and binary junk around the keys",
         nulJunk + "[S]\na=1\n" + std::string("\0junk=\0\n", 8) + "\xfe\xfe\n",
         nulJunk + "[S]\na=1\n" + std::string("\0junk=\0\n", 8) + "k=7\n\xfe\xfe\n", 1},
        {"a one-megabyte line in the middle", "[S]\na=1\n" + megabyteLine + "\nb=2\n",
         "[S]\na=1\n" + megabyteLine + "\nb=2\nk=7\n", 1},
        {"a one-megabyte value", "[S]\na=" + megabyteLine + "\n",
         "[S]\na=" + megabyteLine + "\nk=7\n", 0},
        {"keys before sections, lines without '=', duplicates",
         "k=5\nnoise\n[S]\nnoise\na=3\na=4\nk=1\nk=2\n",
         "k=5\nnoise\n[S]\nnoise\na=3\na=4\nk=7\nk=2\n", 3},
        {"unterminated section header", "[S\na=6\n", "[S\na=6\nk=7\n", 6},
    };
    ScratchFolder folder;
    const std::string path = folder.file("s.ini");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeWholeFile(path, row.original);
        SettingsFile settings(path);
        EXPECT_EQ(settings.readInt("S", "a", -1), row.aBefore);
        ASSERT_TRUE(settings.writeInt("S", "k", 7));
        EXPECT_TRUE(readWholeFile(path) == row.expectedAfterWrite);
        EXPECT_EQ(SettingsFile(path).readInt("S", "k", -1), 7);
        EXPECT_EQ(SettingsFile(path).readInt("S", "a", -1), row.aBefore);
    }
}

// Compares `length` bytes of two files at the given offsets, a chunk at a time.
bool sameBytes(const std::string& pathA, std::size_t offsetA, const std::string& pathB,
               std::size_t offsetB, std::size_t length) {
    std::ifstream a(pathA, std::ios::binary);
    std::ifstream b(pathB, std::ios::binary);
    a.seekg(static_cast<std::streamoff>(offsetA));
    b.seekg(static_cast<std::streamoff>(offsetB));
    std::string chunkA(1 << 20, '\0');
    std::string chunkB(1 << 20, '\0');
    while (length > 0) {
        const std::size_t n = std::min(length, chunkA.size());
        a.read(chunkA.data(), static_cast<std::streamsize>(n));
        b.read(chunkB.data(), static_cast<std::streamsize>(n));
        if (!a || !b || chunkA.compare(0, n, chunkB, 0, n) != 0) {
            return false;
        }
        length -= n;
    }
    return true;
}

std::size_t fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
}

// 100 MB: the head is parsed, the rest is carried through a write byte for byte.
TEST(SettingsFileDamagedTest, HundredMegabyteFileKeepsItsUnreadTail) {
    ScratchFolder folder;
    const std::string path = folder.file("s.ini");
    const std::string original = folder.file("original");
    {
        std::ofstream out(original, std::ios::binary);
        out << "[S]\r\nk=1\r\n";
        const std::string line = "filler=" + std::string(91, 'f') + "\r\n";  // 100 bytes
        for (int i = 0; i < 1'000'000; ++i) {
            out << line;
        }
        out << "[Far]\r\nf=1\r\n";
    }
    const std::size_t size = fileSize(original);
    ASSERT_GT(size, 100'000'000u);
    ASSERT_EQ(::link(original.c_str(), path.c_str()), 0);  // the original survives the rename

    SettingsFile settings(path);
    EXPECT_EQ(settings.readInt("S", "k", -1), 1);
    EXPECT_EQ(settings.readInt("S", "filler", -1), 0);
    EXPECT_EQ(settings.readInt("Far", "f", -1), -1);  // beyond what we parse

    SettingsBatch batch;
    batch.writeInt("S", "k", 2);
    batch.writeInt("New", "n", 3);
    ASSERT_TRUE(settings.write(batch));
    EXPECT_EQ(settings.readInt("S", "k", -1), 2);
    EXPECT_EQ(settings.readInt("New", "n", -1), 3);

    // The new section sits at the end of the parsed head (its last whole line), and
    // every other byte is as before.
    const std::string added = "[New]\r\nn=3\r\n";
    const std::size_t lineLength = 100;
    const std::size_t headerLength = 10;
    const std::size_t head =
        headerLength + (IniDocument::kMaxParsedBytes - headerLength) / lineLength * lineLength;
    ASSERT_EQ(fileSize(path), size + added.size());
    EXPECT_EQ(readWholeFile(path).substr(0, 10), "[S]\r\nk=2\r\n");
    EXPECT_TRUE(sameBytes(path, 10, original, 10, head - 10));
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(head));
    std::string inserted(added.size(), '\0');
    in.read(inserted.data(), static_cast<std::streamsize>(inserted.size()));
    EXPECT_EQ(inserted, added);
    EXPECT_TRUE(sameBytes(path, head + added.size(), original, head, size - head));
    EXPECT_EQ(folderEntries(folder.path()).size(), 2u) << "temporary file left behind";
}

TEST(SettingsFileDamagedTest, FileWithoutLineBreaksGetsReadableSectionInFront) {
    ScratchFolder folder;
    const std::string path = folder.file("s.ini");
    const std::string junk(IniDocument::kMaxParsedBytes + 1000, 'j');
    writeWholeFile(path, junk);
    SettingsFile settings(path);
    EXPECT_EQ(settings.readInt("S", "k", -1), -1);
    ASSERT_TRUE(settings.writeInt("S", "k", 4));
    EXPECT_TRUE(readWholeFile(path) == "[S]\nk=4\n" + junk);
    EXPECT_EQ(SettingsFile(path).readInt("S", "k", -1), 4);
}

// A file whose parsed head is full: an edit that would push a new line out of what a
// later read parses is refused rather than reported done; edits that stay readable work.
TEST(SettingsFileDamagedTest, EditThatWouldNotBeReadBackIsRefused) {
    ScratchFolder folder;
    const std::string path = folder.file("s.ini");
    const std::string line(99, 'x');
    std::string head = "[S]\nk=1\n";
    while (head.size() + 200 <= IniDocument::kMaxParsedBytes) {
        head += line + "\n";
    }
    head += std::string(IniDocument::kMaxParsedBytes - head.size() - 1, 'y') + "\n";
    ASSERT_EQ(head.size(), IniDocument::kMaxParsedBytes);
    const std::string tail = "[Tail]\nt=1\n";
    writeWholeFile(path, head + tail);

    SettingsFile settings(path);
    EXPECT_EQ(settings.readInt("S", "k", -1), 1);
    EXPECT_FALSE(settings.writeInt("New", "n", 1));
    EXPECT_TRUE(readWholeFile(path) == head + tail);

    ASSERT_TRUE(settings.writeInt("S", "k", 2));  // same length, in place
    EXPECT_EQ(settings.readInt("S", "k", -1), 2);
    ASSERT_TRUE(settings.writeInt("S", "k", 12345));  // the last line moves out of reach
    EXPECT_EQ(SettingsFile(path).readInt("S", "k", -1), 12345);
    head.replace(6, 1, "12345");
    EXPECT_TRUE(readWholeFile(path) == head + tail);
}

// Runs `check` in a child process without root's privileges (as nobody when we are
// root), so that permission bits apply; the child's exit code is the check's result.
int runUnprivileged(const std::function<int()>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(100);
        }
        ::_exit(check());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST(SettingsFileDamagedTest, UnwritableOrUnreadableFileIsLeftAlone) {
    ScratchFolder folder;
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    const std::string content = "[S]\r\nk=1\r\n";

    // Readable file in a folder we may not write: reads work, writes fail.
    const std::string readable = folder.file("readable.ini");
    writeWholeFile(readable, content);
    ASSERT_EQ(::chmod(readable.c_str(), 0644), 0);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);
    }
    EXPECT_EQ(runUnprivileged([&] {
                  SettingsFile settings(readable);
                  if (settings.readInt("S", "k", -1) != 1) {
                      return 1;
                  }
                  if (settings.writeInt("S", "k", 2) || settings.writeInt("T", "x", 2)) {
                      return 2;
                  }
                  return settings.readInt("S", "k", -1) == 1 ? 0 : 3;
              }),
              0);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    EXPECT_EQ(readWholeFile(readable), content);

    // A file we may not read is never replaced, even where the folder would allow it.
    const std::string secret = folder.file("secret.ini");
    writeWholeFile(secret, content);
    ASSERT_EQ(::chmod(secret.c_str(), 0), 0);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
    EXPECT_EQ(runUnprivileged([&] {
                  SettingsFile settings(secret);
                  if (settings.readInt("S", "k", -1) != -1) {
                      return 1;
                  }
                  return settings.writeInt("S", "k", 2) ? 2 : 0;
              }),
              0);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
    EXPECT_EQ(readWholeFile(secret), content);
    EXPECT_EQ(folderEntries(folder.path()).size(), 2u) << "temporary file left behind";
}

// Fails for root as well: the folder that should hold the file is a regular file.
TEST(SettingsFileDamagedTest, ParentThatIsAFileFailsWrites) {
    ScratchFolder folder;
    const std::string notAFolder = folder.file("plain");
    writeWholeFile(notAFolder, "[S]\nk=1\n");
    for (const std::string& path : {notAFolder + "/s.ini", notAFolder + "/deeper/s.ini"}) {
        SCOPED_TRACE(path);
        SettingsFile settings(path);
        EXPECT_EQ(settings.readInt("S", "k", -1), -1);
        EXPECT_FALSE(settings.writeInt("S", "k", 2));
        SettingsBatch batch;
        batch.writeInt("S", "k", 2);
        EXPECT_FALSE(settings.write(batch));
    }
    // The settings path itself a folder: neither read nor replaced.
    const std::string aFolder = folder.file("folder.ini");
    ASSERT_EQ(::mkdir(aFolder.c_str(), 0700), 0);
    EXPECT_EQ(SettingsFile(aFolder).readInt("S", "k", -1), -1);
    EXPECT_FALSE(SettingsFile(aFolder).writeInt("S", "k", 2));
    EXPECT_EQ(readWholeFile(notAFolder), "[S]\nk=1\n");
    EXPECT_EQ(folderEntries(folder.path()).size(), 2u);
}

}  // namespace
}  // namespace corvane
