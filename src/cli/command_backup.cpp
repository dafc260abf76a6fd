// corvanectl backup: the site as one file, for a record kept in version control: one
// search and one status sweep, merged by MAC, written whole or not at all.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/output_file_check.h"
#include "cli/site_file_json.h"
#include "cli/site_live.h"
#include "cli/target_input.h"
#include "devices/address_input.h"
#include "files/atomic_file_writer.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

constexpr char kStandardOutput[] = "-";

struct BackupOptions {
    std::vector<std::string> targets;
    bool all = false;
    std::string output = kStandardOutput;
};

// Whether `module` is the one `target` names: by the list's MAC when it came from
// the list, otherwise by its address.
bool names(const ResolvedTarget& target, const SiteModule& module) {
    const auto mac = parseMac(target.mac);
    return mac ? *mac == module.mac : target.ip == module.ip;
}

// Keeps the modules the targets name; a target the search did not find is said, and
// makes the backup incomplete.
bool selectTargets(const std::vector<ResolvedTarget>& targets,
                   const std::vector<std::string>& texts, std::vector<SiteModule>& modules) {
    std::vector<bool> keep(modules.size(), false);
    bool allFound = true;
    for (std::size_t t = 0; t < targets.size(); ++t) {
        bool found = false;
        for (std::size_t m = 0; m < modules.size(); ++m) {
            if (names(targets[t], modules[m])) {
                keep[m] = found = true;
            }
        }
        if (!found) {
            std::cerr << "corvanectl: " << texts[t] << " (" << targets[t].ip.text()
                      << "): the search did not find it, so it is not in the file\n";
            allFound = false;
        }
    }
    std::vector<SiteModule> kept;
    for (std::size_t m = 0; m < modules.size(); ++m) {
        if (keep[m]) {
            kept.push_back(modules[m]);
        }
    }
    modules = std::move(kept);
    return allFound;
}

void write(const std::string& output, const std::string& text) {
    if (output == kStandardOutput) {
        std::cout << text;
        return;  // main checks that standard output took it
    }
    const FileWriteResult result = writeFileAtomically(output, text);
    if (!result.saved()) {
        throw CommandError(kExitFailure, "cannot write " + output + ": " + result.message());
    }
}

int runBackup(const CliSession& session, const BackupOptions& options) {
    if (options.all && !options.targets.empty()) {
        throw CommandError(kExitUsage, "backup takes TARGETs or --all, not both");
    }
    const std::vector<ResolvedTarget> targets = resolveTargets(session, options.targets);
    if (options.output != kStandardOutput) {
        refusePlantedLink(options.output);
    }
    const LocalAddress local = session.sourceAddress();
    SiteSnapshot site;
    site.takenAt = utcNow();
    site.from = local.address;
    site.modules = searchSite(local);
    bool complete = targets.empty() || selectTargets(targets, options.targets, site.modules);
    readSiteStatus(local, site.modules);
    for (const SiteModule& module : site.modules) {
        complete = complete && module.answered;
    }
    write(options.output, siteFileText(site));
    if (site.modules.empty()) {
        std::cerr << "corvanectl: the search found no module\n";
    }
    return complete ? kExitSuccess : kExitFailure;
}

}  // namespace

void addBackupCommand(CLI::App& app, CliSession& session) {
    auto options = std::make_shared<BackupOptions>();
    CLI::App* command = app.add_subcommand(
        "backup",
        "Write the site's configuration as a site file (JSON): one search and one status "
        "read of every module found (or of the TARGETs), merged by MAC and sorted by it; "
        "exit status 1 when any module asked for did not answer");
    auto* targets = command
                        ->add_option("TARGET", options->targets,
                                     "Only these modules (position, MAC or address)")
                        ->type_name("TARGET")
                        ->check(targetForm());
    command->add_flag("--all", options->all, "Every module the search finds (the default)")
        ->excludes(targets);
    command
        ->add_option("-o,--output", options->output,
                     "The file to write (replaced whole, never left half written), or - for "
                     "standard output (the default)")
        ->type_name("FILE");
    session.addCommand(command, [&session, options] { return runBackup(session, *options); });
}

}  // namespace corvane::cli
