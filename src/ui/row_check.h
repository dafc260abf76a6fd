// Check as every command runs it: a fresh status read of one row through the session's
// sweep routine, a silent module reported to the operator, then the command goes on.
#pragma once

#include <functional>

class QWidget;

namespace corvane {

class SiteSession;

// Reads `row`'s module; when it stays silent, "Device is not responding" is shown over
// `parent` before `then` runs with whether it answered.
void checkRowReporting(SiteSession& session, QWidget& parent, int row,
                       std::function<void(bool answered)> then);

}  // namespace corvane
