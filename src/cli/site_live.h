// The live site as the site-file commands read it: one search of the segment, then one
// status sweep of the modules it found, merged by MAC. Reads only.
#pragma once

#include <cstdint>
#include <vector>

#include "devices/site_snapshot.h"
#include "net/wire_types.h"

namespace corvane::cli {

// The class the add-device wizard searches for.
inline constexpr std::uint16_t kSiteSearchClass = 3;

// The modules that answered a search, sorted by MAC, none answered yet. Throws
// CommandError (failure) when the search could not be sent.
std::vector<SiteModule> searchSite(const LocalAddress& local);

// Reads the status of every module in `modules` whose `selected` entry is true (all
// when `selected` is empty) and merges it in. A module that shares its address with
// another, or whose address no module may have, is not asked (whichever module
// answered would be a matter of chance); standard error says so.
void readSiteStatus(const LocalAddress& local, std::vector<SiteModule>& modules,
                    const std::vector<bool>& selected = {});

// The local time now in UTC, ISO 8601: "2026-12-08T12:40:00Z".
std::string utcNow();

}  // namespace corvane::cli
