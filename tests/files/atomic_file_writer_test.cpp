#include "files/atomic_file_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "files/file_descriptor.h"
#include "files/file_size_limit.h"
#include "files/scratch_folder.h"

namespace corvane {
namespace {

constexpr uid_t kNobody = 65534;

struct stat statOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info;
}

// Sets the umask for one test and puts the previous one back.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : m_previous(::umask(mask)) {}
    ~ScopedUmask() { ::umask(m_previous); }

private:
    mode_t m_previous;
};

TEST(AtomicFileWriter, NewFileGetsTheUmaskAndAnExistingOneKeepsModeAndOwner) {
    struct Row {
        const char* name;
        bool existing;
        mode_t existingMode;
        uid_t existingOwner;  // set only when running as root
        mode_t mask;
        mode_t expectedMode;
    };
    const Row rows[] = {
        {"new file, umask 022", false, 0, 0, 022, 0644},
        {"new file, umask 077", false, 0, 0, 077, 0600},
        {"existing file keeps 0600", true, 0600, 0, 022, 0600},
        {"existing file keeps 0664", true, 0664, 0, 077, 0664},
        {"set-id bits are not carried over", true, 06640, 0, 022, 0640},
        {"root writing a user's file leaves it the user's", true, 0640, kNobody, 022, 0640},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.existingOwner != 0 && ::geteuid() != 0) {
            continue;  // only root can make a file of another user
        }
        test::ScratchFolder folder;
        const std::string path = folder.file("out.txt");
        if (row.existing) {
            test::writeWholeFile(path, "old content that is longer than the new one\n");
            ASSERT_EQ(::chown(path.c_str(), row.existingOwner == 0 ? ::geteuid() : kNobody,
                              row.existingOwner == 0 ? ::getegid() : kNobody),
                      0);
            ASSERT_EQ(::chmod(path.c_str(), row.existingMode), 0);
        }
        const ScopedUmask mask(row.mask);

        const FileWriteResult result = writeFileAtomically(path, "new\r\ncontent\r\n");

        ASSERT_TRUE(result.saved()) << result.message();
        EXPECT_EQ(result.error, 0);
        EXPECT_EQ(test::readWholeFile(path), "new\r\ncontent\r\n");
        const struct stat info = statOf(path);
        EXPECT_EQ(info.st_mode & 07777, row.expectedMode);
        EXPECT_EQ(info.st_uid, row.existingOwner == 0 ? ::geteuid() : kNobody);
        EXPECT_EQ(result.written.st_ino, info.st_ino);
        EXPECT_EQ(result.written.st_size, info.st_size);
        EXPECT_EQ(result.written.st_mtim.tv_nsec, info.st_mtim.tv_nsec);
        EXPECT_EQ(folder.entries(), std::set<std::string>{"out.txt"});
    }
}

TEST(AtomicFileWriter, WritesThroughASymbolicLink) {
    test::ScratchFolder folder;
    test::writeWholeFile(folder.file("real.txt"), "old");
    ASSERT_EQ(::symlink("real.txt", folder.file("link.txt").c_str()), 0);

    ASSERT_TRUE(writeFileAtomically(folder.file("link.txt"), "new").saved());

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
    ASSERT_EQ(::mkfifo(folder.file("fifo").c_str(), 0644), 0);
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
        {"target is a FIFO", folder.file("fifo"), EINVAL},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const FileWriteResult result = writeFileAtomically(row.path, "data");
        EXPECT_EQ(result.status, FileWriteStatus::CouldNotCreate);
        EXPECT_EQ(result.error, row.error) << result.message();
        EXPECT_FALSE(result.message().empty());
        EXPECT_EQ(folder.entries(), (std::set<std::string>{"fifo", "plain-file", "sub"}));
        EXPECT_TRUE(std::filesystem::is_empty(folder.file("sub")));
        EXPECT_TRUE(S_ISFIFO(statOf(folder.file("fifo")).st_mode));
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

        const FileWriteResult result = writeFileAtomically(path, "data");

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
        const auto result =
            test::runWithFileSizeLimit(1000, [&] { return writeFileAtomically(path, content); });

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

// The settings file writes an edited head and then streams the rest of the old file.
TEST(AtomicFileWriter, FillsTheFileInPiecesAndCopiesATail) {
    struct Row {
        const char* name;
        std::vector<std::string> pieces;
        off_t tailFrom;  // -1: no tail
        int sourceFlags;
        FileWriteStatus status;
        std::string expected;
    };
    const Row rows[] = {
        {"pieces only", {"ab", "", "cd"}, -1, O_RDONLY, FileWriteStatus::Saved, "abcd"},
        {"pieces and a tail", {"head:"}, 4, O_RDONLY, FileWriteStatus::Saved, "head:456789"},
        {"a tail from the end", {"x"}, 10, O_RDONLY, FileWriteStatus::Saved, "x"},
        {"a tail that cannot be read", {"x"}, 0, O_WRONLY, FileWriteStatus::WriteFailed, "earlier"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::ScratchFolder folder;
        const std::string path = folder.file("out.txt");
        test::writeWholeFile(path, "earlier");
        test::writeWholeFile(folder.file("source"), "0123456789");
        const FileDescriptor source(::open(folder.file("source").c_str(), row.sourceFlags));
        ASSERT_TRUE(source.valid());

        const FileWriteResult result = writeFileAtomically(path, [&](FileSink& sink) {
            for (const std::string& piece : row.pieces) {
                sink.write(piece);
            }
            if (row.tailFrom >= 0) {
                sink.copyFrom(source.get(), row.tailFrom);
            }
        });

        EXPECT_EQ(result.status, row.status) << result.message();
        EXPECT_EQ(result.error, row.status == FileWriteStatus::Saved ? 0 : EBADF);
        EXPECT_EQ(test::readWholeFile(path), row.expected);
        EXPECT_EQ(folder.entries(), (std::set<std::string>{"out.txt", "source"}));
    }
}

// A writer that died between creating its temporary file and the rename left it behind;
// the next write of the same target removes it, and only it.
TEST(AtomicFileWriter, RemovesTemporaryFilesThatDeadWritersLeft) {
    struct Row {
        const char* name;
        const char* file;
        bool locked;      // a live writer holds it
        bool otherOwner;  // another user's (only root can make one)
        bool removed;
    };
    const Row rows[] = {
        {"a dead writer's file", ".out.txt.tmp.AbC123", false, false, true},
        {"a live writer's file", ".out.txt.tmp.AbC123", true, false, false},
        {"another user's file", ".out.txt.tmp.AbC123", false, true, false},
        {"another target's file", ".other.txt.tmp.AbC123", false, false, false},
        {"not a temporary name", ".out.txt.tmp.AbC12", false, false, false},
        {"not a temporary name", ".out.txt.tmp.AbC12-", false, false, false},
        {"a visible name", "out.txt.tmp.AbC123", false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + ": " + row.file);
        if (row.otherOwner && ::geteuid() != 0) {
            continue;
        }
        test::ScratchFolder folder;
        const std::string path = folder.file("out.txt");
        const std::string leftover = folder.file(row.file);
        test::writeWholeFile(leftover, "half a file");
        if (row.otherOwner) {
            ASSERT_EQ(::chown(leftover.c_str(), kNobody, kNobody), 0);
        }
        FileDescriptor holder(::open(leftover.c_str(), O_RDONLY));
        ASSERT_TRUE(holder.valid());
        if (row.locked) {
            ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
        } else {
            holder.reset();
        }

        ASSERT_TRUE(writeFileAtomically(path, "new").saved());

        const std::set<std::string> expected = row.removed
                                                   ? std::set<std::string>{"out.txt"}
                                                   : std::set<std::string>{"out.txt", row.file};
        EXPECT_EQ(folder.entries(), expected);
        EXPECT_EQ(test::readWholeFile(path), "new");
    }
}

}  // namespace
}  // namespace corvane
