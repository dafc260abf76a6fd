// corvanectl apply: makes the live site match a site file, module by module. The plan
// is printed and checked as a whole first; nothing is sent when it is refused, on
// --dry-run, or when the operator at a terminal does not confirm it. Every module sent
// to is read back afterwards and each change reported as verified or not.
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <cerrno>
#include <csignal>
#include <iostream>
#include <memory>

#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/site_file_json.h"
#include "cli/site_live.h"
#include "devices/address_input.h"
#include "devices/site_plan.h"
#include "net/device_search.h"
#include "net/stream_settings_messages.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

struct ApplyOptions {
    std::string file;
    bool dryRun = false;
    bool yes = false;
    std::vector<std::string> replacements;  // OLD=NEW, as checked
};

volatile std::sig_atomic_t g_interrupted = 0;

void onInterrupt(int) {
    g_interrupted = 1;
}

// Ctrl-C while the plan is sent: the module in hand is finished, then the rest are
// left. The previous handling comes back when this goes out of scope.
class InterruptBetweenModules {
public:
    InterruptBetweenModules() {
        g_interrupted = 0;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;  // a send in hand is finished, not cut short
        m_installed = sigaction(SIGINT, &action, &m_previous) == 0;
        if (!m_installed) {
            std::cerr << "corvanectl: Ctrl-C will stop at once, not between modules"
                      << systemReason(errno) << '\n';
        }
    }
    ~InterruptBetweenModules() {
        if (m_installed) {
            sigaction(SIGINT, &m_previous, nullptr);
        }
    }
    InterruptBetweenModules(const InterruptBetweenModules&) = delete;
    InterruptBetweenModules& operator=(const InterruptBetweenModules&) = delete;

private:
    struct sigaction m_previous {};
    bool m_installed = false;
};

CLI::Validator replacementForm() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const std::size_t equals = text.find('=');
            if (equals == std::string::npos || !parseMac(text.substr(0, equals)) ||
                !parseMac(text.substr(equals + 1))) {
                return "'" + text + "' is not OLD_MAC=NEW_MAC (two MACs of six hex pairs)";
            }
            return {};
        },
        "");
}

std::vector<Replacement> replacementsOf(const std::vector<std::string>& texts) {
    std::vector<Replacement> replacements;
    for (const std::string& text : texts) {
        const std::size_t equals = text.find('=');
        replacements.push_back(
            {parseMac(text.substr(0, equals)).value(), parseMac(text.substr(equals + 1)).value()});
    }
    return replacements;
}

std::string moduleTitle(const ModulePlan& module) {
    std::string title = formatMacAddress(module.mac) + " (at " + module.currentIp.text() + ")";
    if (module.replaces) {
        title += ", replacing " + formatMacAddress(*module.replaces);
    }
    return title;
}

// "Start (rtp to 239.10.1.1:1234, no stuffing)" or "Stop".
std::string outputCommand(const SiteOutput& output) {
    if (!output.running) {
        return "Stop";
    }
    return "Start (" + siteProtocolName(output.protocol) + " to " +
           formatEndpoint(output.destinationIp, output.destinationPort) +
           (output.noStuffing ? ", no stuffing)" : ")");
}

void printPlan(const SitePlan& plan, const std::string& file) {
    std::cout << "Plan to make the segment match " << file << ":\n";
    for (const ModulePlan& module : plan.modules) {
        std::cout << moduleTitle(module) << '\n';
        for (const FieldChange& change : module.changes) {
            std::cout << "  " << change.field << ": " << change.before << " \u2192 " << change.after
                      << '\n';
        }
        std::cout << (module.setNetwork ? "  sends: network settings (broadcast to its MAC)\n" : "")
                  << (module.setOutput ? "  sends: " + outputCommand(module.wanted.output) + '\n'
                                       : std::string());
    }
    for (const NotApplied& item : plan.notApplied) {
        std::cout << formatMacAddress(item.mac) << "  " << item.what
                  << ": not applied: " << item.reason << '\n';
    }
    if (plan.modules.empty() && plan.notApplied.empty()) {
        std::cout << "Nothing differs.\n";
    }
}

bool confirmed(std::size_t modules) {
    std::cerr << "Send these changes to " << modules << (modules == 1 ? " module" : " modules")
              << "? [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}

// Sends one module's part of the plan; false when a send could not go out.
bool sendModule(const LocalAddress& local, const ModulePlan& module) {
    bool sent = true;
    errno = 0;
    if (module.setNetwork && !setNetworkSettings(local, module.mac, module.wanted.ip,
                                                 module.wanted.mask, module.wanted.gateway)) {
        std::cerr << "corvanectl: " << formatMacAddress(module.mac)
                  << ": could not send the network settings" << systemReason(errno) << '\n';
        sent = false;
    }
    errno = 0;
    if (module.setOutput && !setStreamSettings(local, module.finalIp(), module.output)) {
        std::cerr << "corvanectl: " << formatMacAddress(module.mac) << ": could not send to "
                  << module.finalIp().text() << systemReason(errno) << '\n';
        sent = false;
    }
    return sent;
}

// The modules of `plan` as they are now: found by a search where an address was sent
// (at their new address), then a status read of each.
std::vector<std::optional<SiteModule>> readBack(const LocalAddress& local,
                                                const std::vector<const ModulePlan*>& sent,
                                                bool searchNeeded) {
    const std::vector<SiteModule> found =
        searchNeeded ? searchSite(local) : std::vector<SiteModule>{};
    std::vector<SiteModule> modules;
    std::vector<bool> known;
    for (const ModulePlan* module : sent) {
        SiteModule now = module->wanted;  // where no search was needed, its network is as it was
        now.ip = module->currentIp;
        bool present = !module->setNetwork;
        for (const SiteModule& other : found) {
            if (other.mac == module->mac) {
                now = other;
                present = true;
            }
        }
        modules.push_back(now);
        known.push_back(present);
    }
    readSiteStatus(local, modules, known);
    std::vector<std::optional<SiteModule>> after;
    for (std::size_t i = 0; i < modules.size(); ++i) {
        after.push_back(known[i] ? std::optional(modules[i]) : std::nullopt);
    }
    return after;
}

bool reportVerification(const std::vector<const ModulePlan*>& sent,
                        const std::vector<std::optional<SiteModule>>& after) {
    bool verified = true;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const std::vector<FieldChange> missing = unverifiedChanges(*sent[i], after[i]);
        std::cout << formatMacAddress(sent[i]->mac) << ": "
                  << (missing.empty() ? "verified" : "NOT verified") << '\n';
        for (const FieldChange& change : missing) {
            std::cout << "  " << change.field << ": reads " << change.before << ", wanted "
                      << change.after << '\n';
        }
        verified = verified && missing.empty();
    }
    return verified;
}

void reportReplacements(const std::vector<const ModulePlan*>& sent) {
    for (const ModulePlan* module : sent) {
        if (module->replaces) {
            std::cout << "The device list of corvane-control still names "
                      << formatMacAddress(*module->replaces) << ": remove that row there and add "
                      << formatMacAddress(module->mac) << " with Add (the search finds it at "
                      << module->finalIp().text() << ").\n";
        }
    }
}

// Sends the plan module by module, stopping between modules on Ctrl-C, then reads back
// what was sent. True when every send went out and every change reads back as wanted.
bool carryOut(const LocalAddress& local, const SitePlan& plan) {
    std::vector<const ModulePlan*> sent;
    bool allSent = true;
    bool searchNeeded = false;
    {
        const InterruptBetweenModules interrupt;
        for (const ModulePlan& module : plan.modules) {
            if (g_interrupted) {
                break;
            }
            allSent = sendModule(local, module) && allSent;
            sent.push_back(&module);
            searchNeeded = searchNeeded || module.setNetwork;
        }
    }
    if (sent.size() < plan.modules.size()) {
        std::cout << "Interrupted: sent to " << sent.size() << " of " << plan.modules.size()
                  << " modules; not sent to:";
        for (std::size_t i = sent.size(); i < plan.modules.size(); ++i) {
            std::cout << ' ' << formatMacAddress(plan.modules[i].mac);
        }
        std::cout << '\n';
    }
    std::cout << "Reading back:\n";
    const bool verified = reportVerification(sent, readBack(local, sent, searchNeeded));
    reportReplacements(sent);
    return allSent && verified && sent.size() == plan.modules.size();
}

int runApply(const CliSession& session, const ApplyOptions& options) {
    const SiteSnapshot wanted = readSiteFile(options.file);
    const std::vector<Replacement> replacements = replacementsOf(options.replacements);
    const LocalAddress local = session.sourceAddress();
    std::vector<SiteModule> live = searchSite(local);
    readSiteStatus(local, live);
    const SitePlan plan = planSite(wanted.modules, live, replacements, local);
    printPlan(plan, options.file);
    if (!plan.refusals.empty()) {
        std::string reasons;
        for (const std::string& refusal : plan.refusals) {
            reasons += "\n  " + refusal;
        }
        throw CommandError(kExitUsage,
                           "the plan is refused; no change was sent (only the reads):" + reasons);
    }
    const bool differs = !plan.modules.empty() || !plan.notApplied.empty();
    if (options.dryRun || plan.modules.empty()) {
        return differs ? kExitFailure : kExitSuccess;
    }
    std::cout.flush();
    if (!options.yes && isatty(STDIN_FILENO) == 1 && !confirmed(plan.modules.size())) {
        std::cerr << "corvanectl: nothing was sent\n";
        return kExitFailure;
    }
    const bool done = carryOut(local, plan);
    return done && plan.notApplied.empty() ? kExitSuccess : kExitFailure;
}

}  // namespace

void addApplyCommand(CLI::App& app, CliSession& session) {
    auto options = std::make_shared<ApplyOptions>();
    CLI::App* command = app.add_subcommand(
        "apply",
        "Make the live site match a site file, module by module (matched by MAC): network "
        "settings as the add-device wizard sends them, output as the IP output dialog's "
        "Start or Stop. The plan is printed first and asked about on a terminal; every "
        "module sent to is read back. Exit status 0 only when every change was verified");
    command
        ->add_option("FILE", options->file,
                     "The site file (from backup, edited), or - for standard input")
        ->required()
        ->type_name("FILE");
    command->add_flag("--dry-run", options->dryRun,
                      "Print the plan and send nothing but the reads; exit status as diff's");
    command->add_flag("--yes", options->yes, "Do not ask before sending");
    command
        ->add_option("--replace", options->replacements,
                     "Apply the file's entry for OLD_MAC to the module NEW_MAC (a replacement "
                     "unit, found by the search); may be given more than once")
        ->type_name("OLD_MAC=NEW_MAC")
        ->check(replacementForm());
    session.addCommand(command, [&session, options] { return runApply(session, *options); });
}

}  // namespace corvane::cli
