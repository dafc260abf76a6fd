// What the main window's IP Output command does around the dialog, without the status
// read, the messages and the save, which stay with the main window.
#pragma once

#include "devices/device_record.h"
#include "net/wire_types.h"

namespace corvane {

class CDlgIpOut;

// Fills the dialog for `record`, to be sent from `localAdapter`: the module's live values
// and running state when its output runs, else the settings last used for it.
void loadDialogFromRecord(CDlgIpOut& dialog, const DeviceRecord& record,
                          const LocalAddress& localAdapter);

// Writes what the dialog holds into the record's live status (destination, port,
// protocol, "No stuffings" and the running mode), then copies the whole live status over
// the saved settings. Called however the dialog closed.
void storeDialogIntoRecord(const CDlgIpOut& dialog, DeviceRecord& record);

}  // namespace corvane
