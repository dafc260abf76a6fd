// The Passport command: read a module's passport and save it to a file the operator
// names.
#pragma once

#include <QString>
#include <cstdint>
#include <ctime>
#include <functional>

#include "net/wire_types.h"

class QWidget;

namespace corvane {

class SiteSession;

enum class PassportWriteOutcome {
    savedOrCancelled,  // a cancelled dialog counts as success: nothing to report
    couldNotCreate,    // nothing written; the caller shows "File save failed!"
    writeFailed,       // already reported, naming the file; no partial file remains
};

// Asks where to save (offering the default name built from the MAC and `localTime`)
// and writes the file. `filter` is the passport file filter text in the current language.
PassportWriteOutcome writePassportFile(QWidget* parent, Ipv4Address ipAddress,
                                       const PassportData& data, const QString& filter,
                                       const std::tm& localTime);

// Reads the local clock once.
std::tm currentLocalTime();

// Reads the passport of `row`'s module and saves it; messages go over `window`.
void runPassportCommand(SiteSession& session, QWidget& window, int row);

}  // namespace corvane
