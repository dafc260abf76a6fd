#include "reports/atomic_file_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "file_size_limit.h"
#include "scratch_folder.h"

namespace corvane {
namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

mode_t permissionsOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return 0;
    }
    return info.st_mode & 07777;
}

// Sets the umask for one test and puts the previous one back.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : m_previous(::umask(mask)) {}
    ~ScopedUmask() { ::umask(m_previous); }

private:
    mode_t m_previous;
};

TEST(AtomicFileWriter, WritesNewAndExistingFilesWithTheRightPermissions) {
    struct Row {
        const char* name;
        bool existing;
        mode_t existingMode;
        mode_t mask;
        mode_t expectedMode;
    };
    const Row rows[] = {
        {"new file, umask 022", false, 0, 022, 0644},
        {"new file, umask 077", false, 0, 077, 0600},
        {"existing file keeps 0600", true, 0600, 022, 0600},
        {"existing file keeps 0664", true, 0664, 077, 0664},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::ScratchFolder folder;
        const std::string path = folder.file("out.txt");
        if (row.existing) {
            test::writeWholeFile(path, "old content that is longer than the new one\n");
            ASSERT_EQ(::chmod(path.c_str(), row.existingMode), 0);
        }
        const ScopedUmask mask(row.mask);

        const FileWriteResult result = writeFileAtomically(path, bytesOf("new\r\ncontent\r\n"));

        ASSERT_TRUE(result.saved()) << result.message();
        EXPECT_EQ(result.error, 0);
        EXPECT_EQ(test::readWholeFile(path), "new\r\ncontent\r\n");
        EXPECT_EQ(permissionsOf(path), row.expectedMode);
        EXPECT_EQ(folder.entries(), std::set<std::string>{"out.txt"});
    }
}

TEST(AtomicFileWriter, WritesThroughASymbolicLink) {
    test::ScratchFolder folder;
    test::writeWholeFile(folder.file("real.txt"), "old");
    ASSERT_EQ(::symlink("real.txt", folder.file("link.txt").c_str()), 0);

    ASSERT_TRUE(writeFileAtomically(folder.file("link.txt"), bytesOf("new")).saved());

    EXPECT_EQ(test::readWholeFile(folder.file("real.txt")), "new");
    struct stat info {};
    ASSERT_EQ(::lstat(folder.file("link.txt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(folder.entries(), (std::set<std::string>{"link.txt", "real.txt"}));
}

TEST(AtomicFileWriter, UnusableTargetMeansCouldNotCreateAndNothingWritten) {
    test::ScratchFolder folder;
    test::writeWholeFile(folder.file("plain-file"), "keep");
    ASSERT_EQ(::mkdir(folder.file("sub").c_str(), 0755), 0);
    struct Row {
        const char* name;
        std::string path;
        int error;
    };
    const Row rows[] = {
        {"empty path", "", ENOENT},
        {"folder is gone", folder.file("gone/out.txt"), ENOENT},
        {"folder is a regular file", folder.file("plain-file/out.txt"), ENOTDIR},
        {"target is a folder", folder.file("sub"), EISDIR},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const FileWriteResult result = writeFileAtomically(row.path, bytesOf("data"));
        EXPECT_EQ(result.status, FileWriteStatus::CouldNotCreate);
        EXPECT_EQ(result.error, row.error) << result.message();
        EXPECT_FALSE(result.message().empty());
        EXPECT_EQ(folder.entries(), (std::set<std::string>{"plain-file", "sub"}));
        EXPECT_TRUE(std::filesystem::is_empty(folder.file("sub")));
        EXPECT_EQ(test::readWholeFile(folder.file("plain-file")), "keep");
    }
}

TEST(AtomicFileWriter, WriteProtectedTargetOrFolderMeansCouldNotCreate) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "running as root, which may write whatever the permission bits say";
    }
    struct Row {
        const char* name;
        mode_t fileMode;
        mode_t folderMode;
    };
    const Row rows[] = {
        {"read-only file", 0444, 0755},
        {"read-only folder", 0644, 0555},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::ScratchFolder folder;
        const std::string path = folder.file("out.txt");
        test::writeWholeFile(path, "keep");
        ASSERT_EQ(::chmod(path.c_str(), row.fileMode), 0);
        ASSERT_EQ(::chmod(folder.path().c_str(), row.folderMode), 0);

        const FileWriteResult result = writeFileAtomically(path, bytesOf("data"));

        ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
        EXPECT_EQ(result.status, FileWriteStatus::CouldNotCreate);
        EXPECT_EQ(result.error, EACCES) << result.message();
        EXPECT_EQ(folder.entries(), std::set<std::string>{"out.txt"});
        EXPECT_EQ(test::readWholeFile(path), "keep");
    }
}

TEST(AtomicFileWriter, FailureWhileWritingRemovesTheTemporaryFile) {
    const std::string content(4096, 'x');
    struct Row {
        const char* name;
        bool existing;
    };
    const Row rows[] = {{"new target", false}, {"existing target", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::ScratchFolder folder;
        const std::string path = folder.file("out.txt");
        if (row.existing) {
            test::writeWholeFile(path, "earlier");
        }

        // The first write stops short at 1000 bytes, the next one fails.
        const auto result = test::runWithFileSizeLimit(
            1000, [&] { return writeFileAtomically(path, bytesOf(content)); });

        ASSERT_TRUE(result.has_value()) << "the child process did not report";
        EXPECT_EQ(result->status, FileWriteStatus::WriteFailed);
        EXPECT_EQ(result->error, EFBIG);
        if (row.existing) {
            EXPECT_EQ(folder.entries(), std::set<std::string>{"out.txt"});
            EXPECT_EQ(test::readWholeFile(path), "earlier");
        } else {
            EXPECT_TRUE(folder.entries().empty());
        }
    }
}

}  // namespace
}  // namespace corvane
