#include "devices/site_diff.h"

#include <algorithm>
#include <map>

#include "reports/address_formats.h"

namespace corvane {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

// The field's text in `fields`, or "-" where that side has no such field.
std::string valueOf(const Fields& fields, const std::string& name) {
    const auto found = std::find_if(fields.begin(), fields.end(),
                                    [&](const auto& field) { return field.first == name; });
    return found != fields.end() ? found->second : "-";
}

// Names of both sides' fields in the order of the side with more of them, so that the
// changes read in the file's order.
std::vector<std::string> fieldNames(const Fields& before, const Fields& after) {
    const Fields& longer = after.size() > before.size() ? after : before;
    const Fields& shorter = after.size() > before.size() ? before : after;
    std::vector<std::string> names;
    for (const auto& field : longer) {
        names.push_back(field.first);
    }
    for (const auto& field : shorter) {
        if (std::find(names.begin(), names.end(), field.first) == names.end()) {
            names.push_back(field.first);
        }
    }
    return names;
}

// A single output that is stopped on either side: where it would send is not in effect
// there, and Stop clears it on the module (it sends zeros) while Start sets all of it
// at once, so only "running" is compared.
bool notInEffect(const SiteModule& before, const SiteModule& after) {
    const auto single = [](const SiteModule& m) { return m.answered && !m.output.entries; };
    return single(before) && single(after) && !(before.output.running && after.output.running);
}

void dropOutputSettings(Fields& fields) {
    std::erase_if(fields, [](const auto& field) {
        return field.first == "protocol" || field.first == "destination" ||
               field.first == "no_stuffing";
    });
}

std::string plural(std::size_t count, const std::string& word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

}  // namespace

std::vector<FieldChange> diffModule(const SiteModule& before, const SiteModule& after) {
    Fields first = siteFields(before);
    Fields second = siteFields(after);
    if (before.answered != after.answered) {  // the silent side has no output to compare
        const auto network = [](Fields& fields) { fields.resize(4); };  // ip .. answered
        network(first);
        network(second);
    } else if (notInEffect(before, after)) {
        dropOutputSettings(first);
        dropOutputSettings(second);
    }
    std::vector<FieldChange> changes;
    for (const std::string& name : fieldNames(first, second)) {
        const std::string a = valueOf(first, name);
        const std::string b = valueOf(second, name);
        if (a != b) {
            changes.push_back({name, a, b});
        }
    }
    return changes;
}

std::vector<ModuleDifference> diffSites(const std::vector<SiteModule>& before,
                                        const std::vector<SiteModule>& after) {
    std::map<MacAddress, std::pair<const SiteModule*, const SiteModule*>> byMac;
    for (const SiteModule& module : before) {
        byMac[module.mac].first = &module;
    }
    for (const SiteModule& module : after) {
        byMac[module.mac].second = &module;
    }
    std::vector<ModuleDifference> differences;
    for (const auto& [mac, sides] : byMac) {  // a map keeps the MAC order
        if (sides.first == nullptr || sides.second == nullptr) {
            differences.push_back(
                {mac, sides.first ? ModuleSide::beforeOnly : ModuleSide::afterOnly, {}});
            continue;
        }
        std::vector<FieldChange> changes = diffModule(*sides.first, *sides.second);
        if (!changes.empty()) {
            differences.push_back({mac, ModuleSide::both, std::move(changes)});
        }
    }
    return differences;
}

std::string diffText(const std::vector<ModuleDifference>& differences,
                     const std::string& beforeName, const std::string& afterName) {
    if (differences.empty()) {
        return "No differences.\n";
    }
    std::string text;
    std::size_t changed = 0, beforeOnly = 0, afterOnly = 0;
    for (const ModuleDifference& difference : differences) {
        text += formatMacAddress(difference.mac);
        if (difference.side != ModuleSide::both) {
            const bool first = difference.side == ModuleSide::beforeOnly;
            ++(first ? beforeOnly : afterOnly);
            text += "  only in " + (first ? beforeName : afterName) + "\n";
            continue;
        }
        ++changed;
        text += '\n';
        for (const FieldChange& change : difference.changes) {
            text += "  " + change.field + ": " + change.before + " \u2192 " + change.after + '\n';
        }
    }
    text += plural(changed, "module") + " changed, " + std::to_string(beforeOnly) + " only in " +
            beforeName + ", " + std::to_string(afterOnly) + " only in " + afterName + ".\n";
    return text;
}

}  // namespace corvane
