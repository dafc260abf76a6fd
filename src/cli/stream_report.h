// corvanectl stream's result: one row per stream measured, as a table for people, CSV
// with the scalar fields for spreadsheets, or a JSON array of whole measurements.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/report_output.h"
#include "streams/stream_snapshot.h"

namespace corvane::cli {

struct StreamRow {
    std::optional<Ipv4Address> target;  // the module's address; none for --group
    Ipv4Address source;                 // the sender counted; unspecified for any
    StreamSnapshot snapshot;
};

// One object with exactly the documented fields, in the documented order.
Json streamJson(const StreamRow& row);

// "none", or the non-zero indicators: "3 continuity_count_error, 1 pat_error".
std::string errorsText(const IndicatorCounts& errors);

// The people's table or the CSV's (its scalar fields, the six indicators by name).
Table streamTable(const std::vector<StreamRow>& rows, OutputForm form);

}  // namespace corvane::cli
