// A program of ours (corvanectl) run to its end on the lab's program side, with what it
// wrote to standard output and standard error.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lab/lab_environment.h"

extern char** environ;

namespace corvane::lab {

struct ProgramRun {
    int status = -1;  // the exit status, -1 when it did not exit normally
    std::string out;
    std::string err;
};

inline std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `argv` with nothing on standard input; its output goes through files in `folder`.
inline ProgramRun runProgram(const std::vector<std::string>& argv,
                             const std::filesystem::path& folder) {
    std::vector<char*> pointers = spawnArguments(argv);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::filesystem::path out = folder / "out", err = folder / "err";
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0) << argv[0];
    int status = 0;
    if (spawned == 0) {
        EXPECT_EQ(waitpid(pid, &status, 0), pid) << argv[0];
    }
    return {spawned == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, fileText(out),
            fileText(err)};
}

}  // namespace corvane::lab
