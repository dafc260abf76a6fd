// What every corvanectl command shares: the options that say where the operator's
// settings are and which local address to send from, the validators of addresses typed
// on the command line, and the exit statuses.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "devices/device_record.h"
#include "net/wire_types.h"

namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace corvane::cli {

inline constexpr int kExitSuccess = 0;
// A target did not answer, or a file could not be read or written.
inline constexpr int kExitFailure = 1;
// The command line cannot be carried out as given; nothing was sent.
inline constexpr int kExitUsage = 2;

// Ends a command: main prints "corvanectl: <what>" on standard error and exits with
// `status`.
class CommandError : public std::runtime_error {
public:
    CommandError(int status, const std::string& what)
        : std::runtime_error(what), m_status(status) {}
    int status() const { return m_status; }

private:
    int m_status;
};

// Help text of every TARGET argument.
inline constexpr char kTargetHelp[] =
    "The module: its position in the device list (as 'list' shows it), its MAC or its address";

// ": " and the system's text for `error` (an errno value), or nothing when it is 0.
std::string systemReason(int error);

// Text checks for CLI11 options: a parse that fails them is a usage error before
// anything is sent.
CLI::Validator dottedAddress();  // any A.B.C.D
CLI::Validator deviceAddress();  // A.B.C.D that a module may have
CLI::Validator macAddress();     // six hex pairs
CLI::Validator moduleMac();      // six hex pairs, neither broadcast nor multicast
CLI::Validator networkMask();    // A.B.C.D whose bits are ones, then zeros
CLI::Validator destination();    // A.B.C.D:PORT, port 1 to 65535

// The address of a text the validators above have accepted.
Ipv4Address addressOf(const std::string& text);

class CliSession {
public:
    // `executable`: corvanectl's own path, where the default settings file is looked for.
    explicit CliSession(std::string executable);

    // --settings FILE and --from ADDRESS, on the top level; commands take them too.
    void addCommonOptions(CLI::App& app);

    // Registers what runs when `command` was given on the command line.
    void addCommand(CLI::App* command, std::function<int()> action);
    // The status of the command that was given; kExitUsage when none was.
    int runParsedCommand() const;

    // The operator's device list, read from the settings file without writing it; a
    // missing file is an empty list (said on standard error when `sayMissing`).
    // Throws CommandError when the file exists but cannot be read.
    DeviceList deviceList(bool sayMissing = true) const;

    // The local address to send from (--from, the stored choice, or the only usable
    // one). Throws CommandError with the usable addresses when none can be chosen.
    LocalAddress sourceAddress() const;

    // The address that sourceAddress() would give, or nothing where it would fail.
    std::optional<Ipv4Address> defaultSourceAddress() const;

private:
    std::string m_executable;
    std::optional<std::string> m_settingsPath;
    std::optional<std::string> m_fromText;
    std::vector<std::pair<CLI::App*, std::function<int()>>> m_commands;
};

}  // namespace corvane::cli
