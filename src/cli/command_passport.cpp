// corvanectl passport: the module's passport read and written to a file, as the Passport
// command writes it, or to standard output.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <ctime>
#include <iostream>
#include <memory>

#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/output_file_check.h"
#include "cli/target_input.h"
#include "net/stream_settings_messages.h"
#include "reports/address_formats.h"
#include "reports/passport_file.h"

namespace corvane::cli {
namespace {

constexpr char kStandardOutput[] = "-";
constexpr char kExtension[] = ".txt";

struct PassportOptions {
    std::string target;
    std::string output;
};

std::tm localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        gmtime_r(&now, &local);  // without a time zone the name still gets a sortable time
    }
    return local;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The program's default name in the current folder, or in the folder -o names.
std::string outputPath(const std::string& option, const PassportData& data) {
    const std::string name = defaultPassportFileName(data, localTimeNow()) + kExtension;
    if (option.empty()) {
        return name;
    }
    if (isFolder(option)) {
        return option + (option.back() == '/' ? "" : "/") + name;
    }
    return option;
}

int runPassport(const CliSession& session, const PassportOptions& options) {
    const Ipv4Address ip = resolveTargets(session, {options.target}).front().ip;
    if (options.output != kStandardOutput) {
        refusePlantedLink(options.output);  // before anything is sent, and again below
    }
    const LocalAddress local = session.sourceAddress();
    PassportData data{};
    if (!getPassportData(local, ip, data)) {
        throw CommandError(kExitFailure, ip.text() + ": the module did not answer");
    }
    if (options.output == kStandardOutput) {
        std::cout << passportText(encodePassportBlock(makePassportBlock(ip, data)));
        return kExitSuccess;  // main checks that standard output took it
    }
    const std::string path = outputPath(options.output, data);
    refusePlantedLink(path);
    const FileWriteResult result = savePassportFile(path, ip, data);
    if (!result.saved()) {
        throw CommandError(kExitFailure, "cannot write " + path + ": " + result.message());
    }
    std::cout << path << '\n';
    return kExitSuccess;
}

}  // namespace

void addPassportCommand(CLI::App& app, CliSession& session) {
    auto options = std::make_shared<PassportOptions>();
    CLI::App* command = app.add_subcommand(
        "passport",
        "Save the module's passport file (default name passport_<MAC>_<date and time>.txt in "
        "the current folder) and print its name");
    command->add_option("TARGET", options->target, kTargetHelp)
        ->required()
        ->type_name("TARGET")
        ->check(targetForm());
    command
        ->add_option("-o,--output", options->output,
                     "The file to write (replaced whole, never left half written), a folder "
                     "for the default name in it, or - for standard output")
        ->type_name("FILE");
    session.addCommand(command, [&session, options] { return runPassport(session, *options); });
}

}  // namespace corvane::cli
