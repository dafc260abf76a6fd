#include "ui/ip_output_command.h"

#include <cstdint>

#include "ui/dlg_ip_out.h"

namespace corvane {
namespace {

constexpr int kMaxPort = 65535;

}  // namespace

void loadDialogFromRecord(CDlgIpOut& dialog, const DeviceRecord& record,
                          const LocalAddress& localAdapter) {
    dialog.moduleIp = record.ipAddress;
    dialog.localAdapter = localAdapter;
    const bool active = isOutputActive(record.liveStatus);
    // A module reporting through stream entries has zero single-form fields; those zeros
    // are what the dialog then shows.
    const StreamSettings& source = active ? record.liveStatus : record.savedSettings;
    dialog.running = active ? 1 : 0;
    dialog.destinationIp = Ipv4Address::fromNetworkOrder(source.destinationIp);
    dialog.destinationPort = source.destinationPort;
    dialog.protocol = source.protocol;
    dialog.noStuffing = (source.flags & kNoStuffingFlag) != 0 ? 1 : 0;
}

void storeDialogIntoRecord(const CDlgIpOut& dialog, DeviceRecord& record) {
    StreamSettings& live = record.liveStatus;
    live.destinationIp = dialog.destinationIp.networkOrder();
    // The port field takes any number of digits; a value that does not fit 16 bits would
    // be saved as some other port, so the last valid one is kept instead.
    if (dialog.destinationPort >= 0 && dialog.destinationPort <= kMaxPort) {
        live.destinationPort = static_cast<std::uint16_t>(dialog.destinationPort);
    }
    // Nothing selected (-1) is kept as 255, which the dialog shows as no selection.
    live.protocol = static_cast<std::uint8_t>(dialog.protocol);
    live.flags = static_cast<std::uint8_t>((live.flags & ~kNoStuffingFlag) |
                                           (dialog.noStuffing != 0 ? kNoStuffingFlag : 0));
    live.mode = dialog.running != 0 ? kModeRunning : kModeStopped;
    record.savedSettings = live;
}

}  // namespace corvane
