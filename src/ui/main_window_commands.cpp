#include "ui/main_window_commands.h"

#include "devices/device_list_storage.h"
#include "reports/address_formats.h"
#include "ui/add_device_wizard.h"
#include "ui/dlg_ip_out.h"
#include "ui/dlg_main.h"
#include "ui/ip_output_command.h"
#include "ui/passport_command.h"

namespace corvane {
namespace {

constexpr std::uint16_t kSearchClass = 3;

void runAddCommand(CDlgMain& window) {
    CAddDeviceWizard wizard(&window, window.operations());
    wizard.localAdapter = window.selectedLocalAddress();
    wizard.searchClass = kSearchClass;
    for (const DeviceRecord& record : window.devices()) {
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
    added.ipAddress = wizard.candidate.ipAddress;
    added.macAddress = formatMacAddress(wizard.candidate.mac);
    window.devices().push_back(added);
    saveDeviceList(window.settings(), window.devices());
    const int row = static_cast<int>(window.devices().size()) - 1;
    window.refreshView(row);
    window.checkRow(row, true, [&window, row](bool) { window.refreshView(row); });
}

void runIpOutputDialog(CDlgMain& window, int row) {
    DeviceRecord& record = window.devices()[static_cast<std::size_t>(row)];
    CDlgIpOut dialog(&window, window.operations());
    loadDialogFromRecord(dialog, record, window.selectedLocalAddress());
    dialog.exec();
    storeDialogIntoRecord(dialog, record);
    saveDeviceList(window.settings(), window.devices());
    window.refreshView(row);
}

void runIpOutputCommand(CDlgMain& window) {
    const int row = window.selectedRow();
    if (row < 0) {
        return;
    }
    // A fresh status read first, exactly as Check does.
    window.checkRow(row, true, [&window, row](bool answered) {
        window.refreshView(row);
        if (answered) {
            runIpOutputDialog(window, row);
        }
    });
}

}  // namespace

void installMainWindowCommands(CDlgMain& window) {
    window.setAddCommand(runAddCommand);
    window.setIpOutputCommand(runIpOutputCommand);
    window.setPassportCommand(runPassportCommand);
}

}  // namespace corvane
