// The protected-symlinks rule for passport files: a link in a sticky, world-writable
// folder is written through only when this user or the folder's owner owns it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cli/cli_session.h"
#include "cli/output_file_check.h"

namespace corvane::cli {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOther = 4242;  // users with no account: only the numbers count
constexpr uid_t kThird = 4343;

TEST(OutputFileCheck, LinksPlantedInSharedFoldersRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a link to another user needs root";
    }
    char pattern[] = "/tmp/corvanectl-links-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path root = pattern;
    const uid_t me = ::geteuid();
    struct Row {
        const char* name;
        mode_t folderMode;
        uid_t folderOwner;
        std::optional<uid_t> linkOwner;  // nothing: a plain file, no link
        bool refused;
    };
    const Row rows[] = {
        {"another user's link in a shared folder", 01777, me, kOther, true},
        {"a stranger's link in another user's shared folder", 01777, kOther, kThird, true},
        {"my own link there", 01777, me, me, false},
        {"the folder owner's link", 01777, kOther, kOther, false},
        {"a plain file there", 01777, me, std::nullopt, false},
        {"not sticky", 0777, me, kOther, false},
        {"sticky, not writable for all", 01775, me, kOther, false},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path folder = root / std::to_string(n++);
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(folder.c_str(), row.folderMode), 0);
        ASSERT_EQ(::chown(folder.c_str(), row.folderOwner, 0), 0);
        const fs::path victim = root / ("victim" + std::to_string(n));
        std::ofstream(victim) << "kept";
        const fs::path file = folder / "passport.txt";
        if (row.linkOwner) {
            ASSERT_EQ(::symlink(victim.c_str(), file.c_str()), 0);
            ASSERT_EQ(::lchown(file.c_str(), *row.linkOwner, 0), 0);
        } else {
            std::ofstream(file) << "old";
        }
        EXPECT_EQ(isPlantedLink(file.string()), row.refused);
        bool thrown = false;
        try {
            refusePlantedLink(file.string());
        } catch (const CommandError& e) {
            thrown = true;
            EXPECT_EQ(e.status(), kExitFailure);
            EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
        }
        EXPECT_EQ(thrown, row.refused);
    }
    fs::remove_all(root);
}

}  // namespace
}  // namespace corvane::cli
