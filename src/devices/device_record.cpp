#include "devices/device_record.h"

#include <algorithm>

namespace corvane {
namespace {

constexpr std::uint8_t kProtocolRtp = 1;
constexpr std::uint16_t kDefaultDestinationPort = 1234;
constexpr unsigned kEntryStateRunning = 1;

unsigned entryState(std::uint16_t control) {
    return (control >> 8) & 0x0Fu;
}

}  // namespace

DeviceRecord DeviceRecord::newRecord() {
    DeviceRecord record;
    record.savedSettings.protocol = kProtocolRtp;
    record.savedSettings.destinationIp = Ipv4Address::fromOctets(224, 0, 0, 1).networkOrder();
    record.savedSettings.destinationPort = kDefaultDestinationPort;
    return record;
}

bool isOutputActive(const StreamSettings& status) {
    if (status.outputCount == 0 && status.inputCount == 0) {
        return (status.mode & kModeRunning) == kModeRunning;
    }
    const int outputs = std::min<int>(status.outputCount, kMaxStreamEntries);
    for (int i = 0; i < outputs; ++i) {
        const std::uint16_t control = status.outputs[i].control;
        if (entryState(control) == kEntryStateRunning) {
            return true;
        }
    }
    return false;
}

bool isOutputActive(const DeviceRecord& record) {
    return isOutputActive(record.liveStatus);
}

void applyStatusRead(DeviceRecord& record, bool answered, const StreamSettings& reported) {
    record.liveStatus = answered ? reported : StreamSettings{};
    record.responded = answered;
    record.queried = true;
}

}  // namespace corvane
