// How the simulated modules are described: one module per line of key=value fields
// (a file, or --module on the command line), racks of identical modules made from
// command-line options, and per-module overrides. The field list is in --help.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim_module.h"

namespace corvane::modsim {

struct RackOptions {
    int count = 0;
    std::uint32_t baseIp = 0;  // host order
    std::uint32_t mask = 0xFFFF0000;
    std::uint32_t gateway = 0;
    std::vector<std::uint8_t> macPrefix{0x02, 0xC0, 0x7A};
    std::string ports = "both";
    std::uint16_t deviceClass = 3;
    int delayMs = 0;
    int delaySpreadMs = 0;  // module i of n answers after delay + i * spread / n
};

// A module with the defaults that a line starts from.
SimModule defaultModule();

// Applies one key=value field; returns an error text or nothing.
std::optional<std::string> applyField(SimModule& module, std::string_view key,
                                      std::string_view value);
// Applies every whitespace-separated key=value field of a line.
std::optional<std::string> applyFields(SimModule& module, std::string_view line);

// Parses a module description line; "mac" and "ip" are required.
std::optional<std::string> parseModuleLine(std::string_view line, SimModule& module);
// Reads a configuration file: '#' starts a comment, blank lines are skipped.
std::optional<std::string> readModuleFile(const std::string& path, std::vector<SimModule>& modules);

std::vector<SimModule> makeRack(const RackOptions& options);

std::optional<std::uint32_t> parseIpv4(std::string_view text);
std::optional<std::vector<std::uint8_t>> parseMacBytes(std::string_view text);
std::optional<unsigned long> parseNumber(std::string_view text, unsigned long maximum);
std::string ipv4Text(std::uint32_t hostOrder);

}  // namespace corvane::modsim
