// corvanectl: the program's functions from a shell, on the same core as the window.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "app/settings_path.h"
#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/usage.h"

namespace {

using namespace corvane::cli;

constexpr char kFooter[] =
    "Results go to standard output (a table; --json or --csv for list, search, status,\n"
    "stream and adapters), errors and progress to standard error. Nothing is sent before\n"
    "the whole command line has been checked, and the settings file is only ever read.\n"
    "\n"
    "Exit status: 0 when every target answered (and for commands that wait for nothing),\n"
    "1 when a target did not answer or a file could not be read or written (for stream,\n"
    "also when a stream did not arrive or was faulty), 2 for a usage error. diff (and\n"
    "apply --dry-run): 0 nothing differs, 1 something does, 2 trouble; apply: 0 only\n"
    "when every change was verified, 2 for a refused plan or a damaged site file\n"
    "(nothing sent).\n"
    "\n"
    "A TARGET names a module by its position in the device list (1, 2, ... as 'corvanectl\n"
    "list' shows it), by its MAC (six hex pairs, looked up in the list) or by its address.\n"
    "A position past the list's end, a MAC not in it or anything else is a usage error.\n"
    "\n"
    "Examples:\n"
    "  corvanectl status --all\n"
    "  corvanectl status 3 02:C0:7A:DE:00:01 10.77.64.14\n"
    "  corvanectl search --json\n"
    "  corvanectl output start 10.77.64.12 --destination 239.10.1.2:5000 --protocol udp\n"
    "  corvanectl passport 1 -o -\n"
    "  corvanectl stream 1 3 --seconds 10\n"
    "  corvanectl set-address 02:C0:7A:DE:00:05 --ip 10.77.64.50 --mask 255.255.0.0 "
    "--gateway 0.0.0.0\n"
    "  corvanectl backup -o site.json && corvanectl diff site.json\n"
    "  corvanectl apply site.json --dry-run";

// What a command printed must have reached its destination: a full disk or a closed pipe
// under `corvanectl list > file` is a failure, not a success.
int finished(int status) {
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "corvanectl: cannot write to standard output\n";
        return status == kExitSuccess ? kExitFailure : status;
    }
    return status;
}

// No command, or a word that is none: what the commands are, before CLI11's own words.
int checkCommandWord(const CLI::App& app, int argc, char** argv) {
    std::string word;
    const CLI::App* scope = nullptr;
    const CommandWord found = findCommandWord(app, argc, argv, word, scope);
    if (found == CommandWord::named) {
        return kExitSuccess;
    }
    if (scope != &app) {  // output without start or stop
        std::cerr << "corvanectl: " << scope->get_name()
                  << " takes one of: " << commandNames(*scope)
                  << (found == CommandWord::unknown ? "; '" + word + "' is none of them" : "")
                  << "\nRun 'corvanectl " << scope->get_name() << " --help' for usage.\n";
    } else if (found == CommandWord::unknown) {
        std::cerr << "corvanectl: '" << word << "' is not a command\n\n" << shortUsage(app);
    } else {
        std::cerr << shortUsage(app);
    }
    return kExitUsage;
}

int run(int argc, char** argv) {
    CLI::App app(
        "Finds broadcast head-end modules, reads their status, starts and stops their IP "
        "output, saves their passports, sets their network addresses, and keeps the site's "
        "configuration in a file (backup, diff, apply), from a shell.",
        "corvanectl");
    app.set_version_flag("--version", std::string("corvanectl ") + CORVANE_VERSION);
    app.footer(kFooter);
    app.require_subcommand(1);
    app.fallthrough();  // --settings and --from may also follow the command

    CliSession session(corvane::executablePath());
    session.addCommonOptions(app);
    addAdaptersCommand(app, session);
    addListCommand(app, session);
    addSearchCommand(app, session);
    addStatusCommand(app, session);
    addOutputCommand(app, session);
    addPassportCommand(app, session);
    addSetAddressCommand(app, session);
    addBackupCommand(app, session);
    addDiffCommand(app, session);
    addApplyCommand(app, session);
    addStreamCommand(app, session);
    addCompleteTargetsCommand(app, session);

    if (const int status = checkCommandWord(app, argc, argv); status != kExitSuccess) {
        return status;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "corvanectl: " << e.what() << "\nRun 'corvanectl --help' for usage.\n";
        return kExitUsage;
    }
    try {
        return session.runParsedCommand();
    } catch (const CommandError& e) {
        std::cout.flush();
        std::cerr << "corvanectl: " << e.what() << '\n';
        return e.status();
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return finished(run(argc, argv));
    } catch (const std::exception& e) {  // out of memory, and the like: say so, fail
        std::cerr << "corvanectl: " << e.what() << '\n';
        return kExitFailure;
    }
}
