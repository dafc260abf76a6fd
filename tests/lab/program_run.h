// A program of ours (corvanectl) run to its end on the lab's program side, with what it
// wrote to standard output and standard error.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "files/scratch_folder.h"
#include "lab/lab_environment.h"
#include "lab/lab_test_support.h"

extern char** environ;

namespace corvane::lab {

struct ProgramRun {
    int status = -1;  // the exit status, -1 when it did not exit normally
    std::string out;
    std::string err;
};

using test::readWholeFile;

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
    return {spawned == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, readWholeFile(out),
            readWholeFile(err)};
}

// A lab test of one of our programs, the one the environment variable given names, with
// a scratch folder of its own for the files it reads and writes, removed afterwards.
class ProgramLabTest : public LabTest {
protected:
    explicit ProgramLabTest(const char* variable) : m_variable(variable) {}

    void SetUp() override {
        LabTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        const char* program = std::getenv(m_variable);
        ASSERT_NE(program, nullptr) << m_variable << " names the program to test";
        m_program = program;
        m_folder = m_scratch.emplace().path();
    }

    const char* m_variable;
    std::string m_program;
    std::optional<test::ScratchFolder> m_scratch;
    std::filesystem::path m_folder;
};

class CorvanectlLabTest : public ProgramLabTest {
protected:
    CorvanectlLabTest() : ProgramLabTest("CORVANE_CORVANECTL") {}

    ProgramRun runCorvanectl(const std::vector<std::string>& arguments) const {
        std::vector<std::string> argv = {m_program};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return runProgram(argv, m_folder);
    }
};

}  // namespace corvane::lab
