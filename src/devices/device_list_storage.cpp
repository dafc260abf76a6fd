#include "devices/device_list_storage.h"

#include <cstdint>
#include <string>

#include "app/settings_keys.h"

namespace corvane {
namespace {

using namespace settings_keys;

std::string indexedKey(const char* name, std::size_t index) {
    return name + std::to_string(index);
}

DeviceRecord loadRecord(const SettingsFile& settings, std::size_t n) {
    DeviceRecord record;
    StreamSettings& saved = record.savedSettings;
    record.ipAddress =
        Ipv4Address::fromSettingsInteger(settings.readInt(kList, indexedKey(kIp, n), 0));
    record.macAddress = settings.readString(kList, indexedKey(kMac, n), "");
    saved.destinationIp =
        Ipv4Address::fromSettingsInteger(settings.readInt(kList, indexedKey(kDestIp, n), 0))
            .networkOrder();
    saved.destinationPort =
        static_cast<std::uint16_t>(settings.readInt(kList, indexedKey(kPort, n), 0));
    saved.protocol =
        static_cast<std::uint8_t>(settings.readInt(kList, indexedKey(kProtocol, n), 0));
    saved.flags = static_cast<std::uint8_t>(settings.readInt(kList, indexedKey(kFlags, n), 0));
    return record;
}

}  // namespace

void loadDeviceList(const SettingsFile& settings, DeviceList& list) {
    list.clear();
    auto total = static_cast<std::uint32_t>(settings.readInt(kList, kTotal, 0));
    if (total == 0) {
        return;
    }
    // "Total" is read again after each record, as it always was; the loop also ends
    // at the cap whatever the file claims.
    for (std::size_t n = 0; n < kMaxLoadedDevices; ++n) {
        list.push_back(loadRecord(settings, n));
        total = static_cast<std::uint32_t>(settings.readInt(kList, kTotal, 0));
        if (n + 1 >= total) {
            break;
        }
    }
}

bool saveDeviceList(SettingsFile& settings, const DeviceList& list) {
    SettingsBatch batch;
    batch.writeInt(kList, kTotal, static_cast<std::int32_t>(list.size()));
    for (std::size_t n = 0; n < list.size(); ++n) {
        const DeviceRecord& record = list[n];
        const StreamSettings& saved = record.savedSettings;
        batch.writeInt(kList, indexedKey(kIp, n), record.ipAddress.settingsInteger());
        batch.writeString(kList, indexedKey(kMac, n), record.macAddress);
        batch.writeInt(kList, indexedKey(kDestIp, n),
                       Ipv4Address::fromNetworkOrder(saved.destinationIp).settingsInteger());
        batch.writeInt(kList, indexedKey(kPort, n), saved.destinationPort);
        batch.writeInt(kList, indexedKey(kProtocol, n), saved.protocol);
        batch.writeInt(kList, indexedKey(kFlags, n), saved.flags);
    }
    return settings.write(batch);
}

}  // namespace corvane
