#include "ui/main_window_commands.h"

#include "net/device_search.h"
#include "reports/address_formats.h"
#include "ui/add_device_wizard.h"
#include "ui/dlg_ip_out.h"
#include "ui/dlg_main.h"
#include "ui/ip_output_command.h"
#include "ui/passport_command.h"
#include "ui/row_check.h"
#include "ui/site_session.h"

namespace corvane {
namespace {

void runAddCommand(SiteSession& session, QWidget& window, int) {
    CAddDeviceWizard wizard(&window, session.operations());
    wizard.localAdapter = session.selectedLocalAddress();
    wizard.searchClass = kSearchClass;
    for (const DeviceRecord& record : session.devices()) {
        wizard.listedAddresses.push_back(record.ipAddress);
        wizard.listedDevices.emplace_back(record.ipAddress, record.macAddress);
        if (!record.macAddress.empty()) {
            wizard.listedMacs.push_back(record.macAddress);
        }
    }
    wizard.exec();
    if (!wizard.deviceAdded) {
        return;
    }
    DeviceRecord added = DeviceRecord::newRecord();
    added.ipAddress = Ipv4Address::fromNetworkOrder(wizard.candidate.ipAddress);
    added.macAddress = formatMacAddress(wizard.candidate.mac);
    session.addDevice(added);
    checkRowReporting(session, window, static_cast<int>(session.devices().size()) - 1, {});
}

void runIpOutputDialog(SiteSession& session, QWidget& window, int row) {
    DeviceRecord record = session.devices()[static_cast<std::size_t>(row)];
    CDlgIpOut dialog(&window, session.operations());
    loadDialogFromRecord(dialog, record, session.selectedLocalAddress());
    dialog.exec();
    storeDialogIntoRecord(dialog, record);
    session.storeDevice(row, record);
}

void runIpOutputCommand(SiteSession& session, QWidget& window, int row) {
    if (row < 0) {
        return;
    }
    // A fresh status read first, exactly as Check does.
    checkRowReporting(session, window, row, [&session, &window, row](bool answered) {
        if (answered) {
            runIpOutputDialog(session, window, row);
        }
    });
}

}  // namespace

void installMainWindowCommands(CDlgMain& window) {
    window.setCommands(
        {.add = runAddCommand, .ipOutput = runIpOutputCommand, .passport = runPassportCommand});
}

}  // namespace corvane
