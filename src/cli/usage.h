// What corvanectl says when the command line names no command, or a word that is not
// one: the short usage with every command and a line on each, as `ip` and `git` do.
#pragma once

#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace corvane::cli {

// "Usage: corvanectl ..." and the commands, one line each; hidden commands left out.
std::string shortUsage(const CLI::App& app);

enum class CommandWord { named, missing, unknown };

// Where the command stands in `argv`: named, missing (options only), or unknown
// (`word` set to the first word that is neither an option, an option's value nor a
// command). A command with commands of its own (output) needs one of them: `scope` is
// left at the command whose word is missing or unknown. --help and --version count as
// named: they need no command.
CommandWord findCommandWord(const CLI::App& app, int argc, const char* const* argv,
                            std::string& word, const CLI::App*& scope);

// The visible commands of `scope`, joined: "start, stop".
std::string commandNames(const CLI::App& scope);

}  // namespace corvane::cli
