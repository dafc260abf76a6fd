// corvanectl diff: what differs between a site file and the live site (or a second
// file), module by module and field by field, with the exit status of diff(1).
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/report_output.h"
#include "cli/site_file_json.h"
#include "cli/site_live.h"
#include "devices/site_diff.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

// diff(1)'s statuses: 0 the same, 1 different, 2 trouble.
constexpr int kDiffSame = 0;
constexpr int kDiffDifferent = 1;
constexpr int kDiffTrouble = 2;

struct DiffOptions {
    std::string file;
    std::string against;
    bool json = false;
};

Json differencesJson(const std::vector<ModuleDifference>& differences) {
    Json modules = Json::array();
    for (const ModuleDifference& difference : differences) {
        Json module;
        module["mac"] = formatMacAddress(difference.mac);
        if (difference.side != ModuleSide::both) {
            module["only_in"] = difference.side == ModuleSide::beforeOnly ? "old" : "new";
        }
        module["changes"] = Json::array();
        for (const FieldChange& change : difference.changes) {
            module["changes"].push_back(
                Json{{"field", change.field}, {"old", change.before}, {"new", change.after}});
        }
        modules.push_back(std::move(module));
    }
    return modules;
}

int compare(const CliSession& session, const DiffOptions& options) {
    const SiteSnapshot before = readSiteFile(options.file);
    std::vector<SiteModule> after;
    std::string afterName = "the segment";
    if (!options.against.empty()) {
        after = readSiteFile(options.against).modules;
        afterName = options.against;
    } else {
        const LocalAddress local = session.sourceAddress();
        after = searchSite(local);
        readSiteStatus(local, after);
    }
    const std::vector<ModuleDifference> differences = diffSites(before.modules, after);
    if (options.json) {
        printJson(std::cout, Json{{"old", options.file},
                                  {"new", afterName},
                                  {"differ", !differences.empty()},
                                  {"modules", differencesJson(differences)}});
    } else {
        std::cout << "--- " << options.file << " (taken " << before.takenAt << ")\n+++ "
                  << afterName << '\n'
                  << diffText(differences, options.file, afterName);
    }
    return differences.empty() ? kDiffSame : kDiffDifferent;
}

int runDiff(const CliSession& session, const DiffOptions& options) {
    try {
        return compare(session, options);
    } catch (const CommandError& e) {  // any trouble is 2, as diff(1) has it
        throw CommandError(kDiffTrouble, e.what());
    }
}

}  // namespace

void addDiffCommand(CLI::App& app, CliSession& session) {
    auto options = std::make_shared<DiffOptions>();
    CLI::App* command = app.add_subcommand(
        "diff",
        "Show what differs between a site file and the live site (one search and one status "
        "read), or a second site file: one line per changed field, 'field: old \u2192 new'; "
        "exit status 0 when nothing differs, 1 when something does, 2 on trouble");
    command
        ->add_option("FILE", options->file, "The site file (from backup), or - for standard input")
        ->required()
        ->type_name("FILE");
    command
        ->add_option("--against", options->against,
                     "Compare with this site file instead of the live site")
        ->type_name("FILE2");
    command->add_flag("--json", options->json, "The differences as one JSON document");
    session.addCommand(command, [&session, options] { return runDiff(session, *options); });
}

}  // namespace corvane::cli
