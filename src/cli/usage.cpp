#include "cli/usage.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>
#include <string_view>
#include <vector>

namespace corvane::cli {
namespace {

// One line each; --help on a command says the rest.
const std::map<std::string, std::string, std::less<>> kSummaries = {
    {"adapters", "list this computer's addresses that commands can send from"},
    {"list", "show the device list: position, MAC, address"},
    {"search", "find the modules on the segment"},
    {"status", "read the status of modules, or of the whole list"},
    {"output", "start or stop a module's IP output"},
    {"passport", "save a module's passport file"},
    {"set-address", "give the module with a MAC a new address"},
    {"backup", "write the site's configuration to a site file"},
    {"diff", "show what differs between a site file and the site"},
    {"apply", "make the site match a site file"},
    {"stream", "measure the streams that modules' running outputs send here"},
};

// The top-level options that take a value in the next word.
bool takesValue(std::string_view option) {
    return option == "--settings" || option == "--from";
}

std::vector<const CLI::App*> visibleCommands(const CLI::App& scope) {
    return scope.get_subcommands([](const CLI::App* command) {
        return !command->get_group().empty();  // hidden ones have no group
    });
}

}  // namespace

std::string shortUsage(const CLI::App& app) {
    std::string text =
        "Usage: corvanectl [--settings FILE] [--from ADDRESS] COMMAND [ARGUMENTS]\n"
        "A TARGET is a position in the device list (as 'corvanectl list' shows it), a MAC or "
        "an address.\n\nCommands:\n";
    const auto commands = visibleCommands(app);
    std::size_t width = 0;
    for (const CLI::App* command : commands) {
        width = std::max(width, command->get_name().size());
    }
    for (const CLI::App* command : commands) {
        const auto summary = kSummaries.find(command->get_name());
        text += "  " + command->get_name() +
                std::string(width - command->get_name().size() + 2, ' ') +
                (summary != kSummaries.end() ? summary->second : command->get_description()) + '\n';
    }
    return text +
           "\nRun 'corvanectl COMMAND --help' for a command's arguments, "
           "'corvanectl --help' for all.\n";
}

CommandWord findCommandWord(const CLI::App& app, int argc, const char* const* argv,
                            std::string& word, const CLI::App*& scope) {
    scope = &app;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h" || argument == "--version") {
            return CommandWord::named;
        }
        if (argument.starts_with('-')) {
            i += scope == &app && takesValue(argument) ? 1 : 0;
            continue;
        }
        word = argument;
        const auto named = scope->get_subcommands(
            [&](const CLI::App* command) { return command->get_name() == word; });
        if (named.empty()) {
            return CommandWord::unknown;
        }
        if (visibleCommands(*named.front()).empty()) {
            return CommandWord::named;
        }
        scope = named.front();  // its own command comes next
    }
    return CommandWord::missing;
}

std::string commandNames(const CLI::App& scope) {
    std::string names;
    for (const CLI::App* command : visibleCommands(scope)) {
        names += (names.empty() ? "" : ", ") + command->get_name();
    }
    return names;
}

}  // namespace corvane::cli
