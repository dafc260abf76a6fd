// What /probe?module=stream answers beside the module's status: the running outputs its
// status names, and what arrives at each of them here, as metrics labelled by
// destination.
#pragma once

#include <string>
#include <vector>

#include "exporter/stream_watch.h"
#include "net/wire_types.h"

namespace corvane::exporter {

// The destinations of the running outputs: the single output when it runs, or each
// running entry of the list form, each with its protocol and `module` as the sender.
std::vector<StreamRequest> runningOutputs(Ipv4Address module, const StreamSettings& status);

// corvane_stream_* for each measured reading; corvane_stream_unwatched_info for the others.
std::string streamMetrics(const std::vector<StreamReading>& readings);

// One line per destination for ?debug=true: measured, or why not.
std::string streamTrace(const std::vector<StreamReading>& readings);

}  // namespace corvane::exporter
