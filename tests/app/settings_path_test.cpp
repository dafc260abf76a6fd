#include "app/settings_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "app/settings_test_support.h"

namespace corvane {
namespace {

using testing::ScratchFolder;
using testing::writeWholeFile;

const std::string kLongFolder = "/opt/" + std::string(150, 'a') + "/" + std::string(150, 'b');

TEST(SettingsPathTest, LocationForExecutable) {
    using Environment = std::map<std::string, std::string>;
    const Environment xdgAndHome{{"XDG_CONFIG_HOME", "/home/op/.cfg"}, {"HOME", "/home/op"}};
    const Environment homeOnly{{"HOME", "/home/op"}};
    struct Row {
        std::string executable;
        bool writable;
        Environment environment;
        std::string expectedFolderAsked;
        SettingsLocation expected;
    };
    const Row rows[] = {
        {"/apps/tool.exe", true, homeOnly, "/apps", {"/apps/tool.ini", ""}},
        {"/apps/tool", true, homeOnly, "/apps", {"/apps/tool.ini", ""}},
        {"/apps/my.tool.v2", true, homeOnly, "/apps", {"/apps/my.tool.ini", ""}},
        {"/apps/tool.", true, homeOnly, "/apps", {"/apps/tool.ini", ""}},
        {"/apps/.hidden", true, homeOnly, "/apps", {"/apps/.hidden.ini", ""}},
        {"/apps/.hidden.bin", true, homeOnly, "/apps", {"/apps/.hidden.ini", ""}},
        {"/apps.d/tool", true, homeOnly, "/apps.d", {"/apps.d/tool.ini", ""}},
        {"/tool.exe", true, homeOnly, "/", {"/tool.ini", ""}},
        {kLongFolder + "/corvane-control",
         true,
         homeOnly,
         kLongFolder,
         {kLongFolder + "/corvane-control.ini", ""}},
        {"/usr/bin/corvane-control",
         false,
         xdgAndHome,
         "/usr/bin",
         {"/home/op/.cfg/corvane-control/corvane-control.ini", "/usr/bin/corvane-control.ini"}},
        {"/usr/bin/tool.exe",
         false,
         homeOnly,
         "/usr/bin",
         {"/home/op/.config/corvane-control/tool.ini", "/usr/bin/tool.ini"}},
        {"/usr/bin/tool",
         false,
         {{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/op"}},
         "/usr/bin",
         {"/home/op/.config/corvane-control/tool.ini", "/usr/bin/tool.ini"}},
        {"/usr/bin/tool",
         false,
         {{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/home/op/"}},
         "/usr/bin",
         {"/home/op/.config/corvane-control/tool.ini", "/usr/bin/tool.ini"}},
        {"/usr/bin/tool",
         false,
         {{"XDG_CONFIG_HOME", "/x/cfg/"}},
         "/usr/bin",
         {"/x/cfg/corvane-control/tool.ini", "/usr/bin/tool.ini"}},
        {"/usr/bin/tool", false, {}, "/usr/bin", {"/usr/bin/tool.ini", ""}},  // nowhere better
        {kLongFolder + "/tool",
         false,
         {{"HOME", kLongFolder}},
         kLongFolder,
         {kLongFolder + "/.config/corvane-control/tool.ini", kLongFolder + "/tool.ini"}},
        // The executable unknown: no folder to ask about and no file beside it.
        {"", true, homeOnly, "", {"/home/op/.config/corvane-control/corvane-control.ini", ""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.executable);
        std::string asked;
        const auto isWritable = [&](const std::string& folder) {
            asked = folder;
            return row.writable;
        };
        const SettingsLocation location =
            settingsLocationFor(row.executable, isWritable, row.environment);
        EXPECT_EQ(location.path, row.expected.path);
        EXPECT_EQ(location.original, row.expected.original);
        EXPECT_EQ(asked, row.expectedFolderAsked);
    }
}

TEST(SettingsPathTest, RunningProcessAndAProgramBesideIt) {
    const std::string executable = executablePath();
    EXPECT_EQ(executable, std::filesystem::canonical("/proc/self/exe").string());
    const std::string name = std::filesystem::path(executable).filename().string();
    EXPECT_EQ(settingsFileNameFor(executable), name + ".ini");
    // The test executable lives in a build folder that we can write.
    EXPECT_EQ(settingsLocation(), (SettingsLocation{executable + ".ini", ""}));
    const std::string folder = std::filesystem::path(executable).parent_path().string();
    EXPECT_EQ(settingsLocation(folder + "/corvane-control"),
              (SettingsLocation{folder + "/corvane-control.ini", ""}));
}

TEST(SettingsPathTest, FolderWritability) {
    ScratchFolder folder;
    writeWholeFile(folder.file("file"), "");
    EXPECT_TRUE(isFolderWritable(folder.path()));
    EXPECT_FALSE(isFolderWritable(folder.file("file")));
    EXPECT_FALSE(isFolderWritable(folder.file("missing")));
    EXPECT_FALSE(isFolderWritable("/proc/self"));  // refused even to root
}

}  // namespace
}  // namespace corvane
