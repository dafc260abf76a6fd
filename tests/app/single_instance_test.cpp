#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/settings_test_support.h"

namespace corvane {
namespace {

using testing::readWholeFile;
using testing::ScratchFolder;
using testing::writeWholeFile;

constexpr const char* kLockName = "QVN_CorvaneControl";

// Sets an environment variable (or removes it) for one scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, std::optional<std::string> value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        set(value);
    }
    ~ScopedEnvironment() { set(m_old); }

private:
    void set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(m_name, value->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    const char* m_name;
    std::optional<std::string> m_old;
};

// Whether a lock taken in a separate process succeeds (that process then ends).
bool lockSucceedsInChild(const std::string& folder) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(SingleInstanceLock(kLockName, folder).held() ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST(SingleInstanceLockTest, LockFileIsPerUser) {
    ScratchFolder runtime;
    ASSERT_EQ(::chmod(runtime.path().c_str(), 0700), 0);
    ScratchFolder openRuntime;
    ASSERT_EQ(::chmod(openRuntime.path().c_str(), 0755), 0);
    ScratchFolder temp;
    const std::string uid = std::to_string(::geteuid());
    struct Row {
        const char* name;
        std::optional<std::string> runtimeDir;
        std::string folder;
        std::string expected;
    };
    const Row rows[] = {
        {"runtime folder", runtime.path(), "", runtime.path() + "/QVN_CorvaneControl.lock"},
        {"no runtime folder", std::nullopt, "",
         temp.path() + "/QVN_CorvaneControl-" + uid + ".lock"},
        {"runtime folder open to others", openRuntime.path(), "",
         temp.path() + "/QVN_CorvaneControl-" + uid + ".lock"},
        {"runtime folder missing", runtime.path() + "/missing", "",
         temp.path() + "/QVN_CorvaneControl-" + uid + ".lock"},
        {"relative runtime folder", "run", "",
         temp.path() + "/QVN_CorvaneControl-" + uid + ".lock"},
        {"folder given", runtime.path(), "/somewhere",
         "/somewhere/QVN_CorvaneControl-" + uid + ".lock"},
    };
    ScopedEnvironment tmpdir("TMPDIR", temp.path());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScopedEnvironment xdg("XDG_RUNTIME_DIR", row.runtimeDir);
        EXPECT_EQ(SingleInstanceLock::lockFilePath(kLockName, row.folder), row.expected);
    }
    ScopedEnvironment xdg("XDG_RUNTIME_DIR", runtime.path());
    SingleInstanceLock lock(kLockName);
    ASSERT_TRUE(lock.held());
    EXPECT_EQ(lock.path(), runtime.path() + "/QVN_CorvaneControl.lock");
    struct stat st {};
    ASSERT_EQ(::stat(lock.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(SingleInstanceLockTest, SecondCopyIsRefusedUntilTheFirstEnds) {
    ScratchFolder folder;
    {
        SingleInstanceLock first(kLockName, folder.path());
        ASSERT_TRUE(first.held());
        EXPECT_FALSE(lockSucceedsInChild(folder.path()));
        EXPECT_FALSE(SingleInstanceLock(kLockName, folder.path()).held());
        EXPECT_TRUE(SingleInstanceLock("OtherName", folder.path()).held());
    }
    EXPECT_TRUE(lockSucceedsInChild(folder.path()));
    EXPECT_TRUE(SingleInstanceLock(kLockName, folder.path()).held());
}

TEST(SingleInstanceLockTest, KilledHolderReleasesTheLock) {
    ScratchFolder folder;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(ready[0]);
        SingleInstanceLock lock(kLockName, folder.path());
        const char report = lock.held() ? '1' : '0';
        if (::write(ready[1], &report, 1) != 1) {
            ::_exit(1);
        }
        for (;;) {
            ::pause();
        }
    }
    ::close(ready[1]);
    char report = 0;
    ASSERT_EQ(::read(ready[0], &report, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(report, '1');
    EXPECT_FALSE(SingleInstanceLock(kLockName, folder.path()).held());
    ASSERT_EQ(::kill(holder, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(SingleInstanceLock(kLockName, folder.path()).held());
}

TEST(SingleInstanceLockTest, OfTenSimultaneousStartsExactlyOneRuns) {
    constexpr int kStarts = 10;
    ScratchFolder folder;
    int start[2];
    int results[2];
    int release[2];
    ASSERT_EQ(::pipe(start), 0);
    ASSERT_EQ(::pipe(results), 0);
    ASSERT_EQ(::pipe(release), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kStarts; ++i) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(start[1]);
            ::close(release[1]);
            char byte;
            // All children wait here until the parent closes the start pipe.
            if (::read(start[0], &byte, 1) != 0) {
                ::_exit(1);
            }
            SingleInstanceLock lock(kLockName, folder.path());
            const char report = lock.held() ? '1' : '0';
            if (::write(results[1], &report, 1) != 1) {
                ::_exit(1);
            }
            // Hold the lock until every child has tried.
            static_cast<void>(::read(release[0], &byte, 1));
            ::_exit(0);
        }
        children.push_back(pid);
    }
    ::close(start[0]);
    ::close(results[1]);
    ::close(release[0]);
    ::close(start[1]);
    int held = 0;
    for (int i = 0; i < kStarts; ++i) {
        char report = 0;
        ASSERT_EQ(::read(results[0], &report, 1), 1);
        held += report == '1' ? 1 : 0;
    }
    ::close(release[1]);
    ::close(results[0]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(held, 1);
}

TEST(SingleInstanceLockTest, PlantedLockFilesAreNotUsed) {
    ScratchFolder folder;
    const std::string path = SingleInstanceLock::lockFilePath(kLockName, folder.path());
    const std::string victim = folder.file("victim");
    writeWholeFile(victim, "keep");

    // A link planted under the lock name is not followed.
    ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);
    EXPECT_FALSE(SingleInstanceLock(kLockName, folder.path()).held());
    EXPECT_EQ(readWholeFile(victim), "keep");
    ASSERT_EQ(::unlink(path.c_str()), 0);

    // A FIFO does not hang the start.
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(SingleInstanceLock(kLockName, folder.path()).held());
    ASSERT_EQ(::unlink(path.c_str()), 0);

    // No folder to create the file in: not held, and the program ends quietly.
    EXPECT_FALSE(SingleInstanceLock(kLockName, folder.file("missing")).held());

    if (::geteuid() != 0) {
        GTEST_SKIP() << "a file owned by another user can only be planted as root";
    }
    writeWholeFile(path, "");
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(SingleInstanceLock(kLockName, folder.path()).held());
}

}  // namespace
}  // namespace corvane
