// The site file: one JSON document per site, written by `corvanectl backup` and read by
// `diff` and `apply`. Keys keep one order and every module is one object, sorted by MAC,
// so that `git diff` of two backups reads well. data/corvane-site.schema.json describes
// the same form.
#pragma once

#include <string>

#include "devices/site_snapshot.h"

namespace corvane::cli {

inline constexpr int kSiteFileFormat = 1;

// The whole file, ending in a newline.
std::string siteFileText(const SiteSnapshot& site);

// The site in `text`. Throws CommandError (usage: nothing may be sent on such a file)
// naming `name`, the line and the field for a file that is not valid JSON, not a site
// file, of another format, or has a field that is missing, of the wrong type or holds
// a value the field cannot take.
SiteSnapshot parseSiteFile(const std::string& text, const std::string& name);

// The same for the file at `path` ("-": standard input); a file that cannot be read is
// a usage error too.
SiteSnapshot readSiteFile(const std::string& path);

}  // namespace corvane::cli
