// corvanectl's commands, one file each: every one adds its options to the command line
// and registers what runs when it is given.
#pragma once

namespace CLI {
class App;
}

namespace corvane::cli {

class CliSession;

void addAdaptersCommand(CLI::App& app, CliSession& session);
void addListCommand(CLI::App& app, CliSession& session);
void addSearchCommand(CLI::App& app, CliSession& session);
void addStatusCommand(CLI::App& app, CliSession& session);
void addOutputCommand(CLI::App& app, CliSession& session);
void addPassportCommand(CLI::App& app, CliSession& session);
void addSetAddressCommand(CLI::App& app, CliSession& session);
void addBackupCommand(CLI::App& app, CliSession& session);
void addDiffCommand(CLI::App& app, CliSession& session);
void addApplyCommand(CLI::App& app, CliSession& session);
void addStreamCommand(CLI::App& app, CliSession& session);
void addCompleteTargetsCommand(CLI::App& app, CliSession& session);

}  // namespace corvane::cli
