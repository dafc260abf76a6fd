// What differs between two records of a site, module by module (matched by MAC), field
// by field, in the terms of the site file: what `corvanectl diff` shows and what
// `corvanectl apply` plans from.
#pragma once

#include <string>
#include <vector>

#include "devices/site_snapshot.h"

namespace corvane {

struct FieldChange {
    std::string field;   // the site file's name: "ip", "destination", ...
    std::string before;  // text as the file writes it; "-" where the side has no such field
    std::string after;

    friend bool operator==(const FieldChange&, const FieldChange&) = default;
};

enum class ModuleSide {
    both,        // in both records; `changes` says what differs
    beforeOnly,  // only in the first record
    afterOnly,   // only in the second
};

struct ModuleDifference {
    MacAddress mac{};
    ModuleSide side = ModuleSide::both;
    std::vector<FieldChange> changes;  // empty for a module on one side only
};

// Every module that differs, in MAC order. Output fields are compared only where both
// sides answered: a silent module's output is not known, so "answered" says it all. A
// single output's protocol, destination and stuffing are compared only where it runs on
// both sides: a stopped output sends nothing, Stop clears them, Start sets them.
std::vector<ModuleDifference> diffSites(const std::vector<SiteModule>& before,
                                        const std::vector<SiteModule>& after);

// The changed fields of one module present on both sides.
std::vector<FieldChange> diffModule(const SiteModule& before, const SiteModule& after);

// The difference as a person reads it, one block per module:
//   02:C0:7A:DE:00:01
//     destination: 239.10.1.1:1234 → 239.20.1.1:1234
//   02:C0:7A:DE:00:07  only in FILE
// ending with a summary line ("2 modules differ, 1 only in FILE, ..."), or
// "No differences." when there are none. `beforeName` and `afterName` name the sides.
std::string diffText(const std::vector<ModuleDifference>& differences,
                     const std::string& beforeName, const std::string& afterName);

}  // namespace corvane
