#include "devices/device_list_storage.h"

#include <cstdint>
#include <string>

namespace corvane {
namespace {

constexpr char kSection[] = "List";

std::string indexedKey(const char* name, std::size_t index) {
    return name + std::to_string(index);
}

DeviceRecord loadRecord(const SettingsFile& settings, std::size_t n) {
    DeviceRecord record;
    StreamSettings& saved = record.savedSettings;
    record.ipAddress =
        static_cast<std::uint32_t>(settings.readInt(kSection, indexedKey("IP", n), 0));
    record.macAddress = settings.readString(kSection, indexedKey("MAC", n), "");
    saved.destinationIp =
        static_cast<std::uint32_t>(settings.readInt(kSection, indexedKey("DestIP", n), 0));
    saved.destinationPort =
        static_cast<std::uint16_t>(settings.readInt(kSection, indexedKey("Port", n), 0));
    saved.protocol =
        static_cast<std::uint8_t>(settings.readInt(kSection, indexedKey("Protocol", n), 0));
    saved.flags = static_cast<std::uint8_t>(settings.readInt(kSection, indexedKey("Flags", n), 0));
    return record;
}

}  // namespace

void loadDeviceList(const SettingsFile& settings, DeviceList& list) {
    list.clear();
    auto total = static_cast<std::uint32_t>(settings.readInt(kSection, "Total", 0));
    if (total == 0) {
        return;
    }
    // "Total" is read again after each record, as it always was; the loop also ends
    // at the cap whatever the file claims.
    for (std::size_t n = 0; n < kMaxLoadedDevices; ++n) {
        list.push_back(loadRecord(settings, n));
        total = static_cast<std::uint32_t>(settings.readInt(kSection, "Total", 0));
        if (n + 1 >= total) {
            break;
        }
    }
}

bool saveDeviceList(SettingsFile& settings, const DeviceList& list) {
    SettingsBatch batch;
    batch.writeInt(kSection, "Total", static_cast<std::int32_t>(list.size()));
    for (std::size_t n = 0; n < list.size(); ++n) {
        const DeviceRecord& record = list[n];
        const StreamSettings& saved = record.savedSettings;
        batch.writeInt(kSection, indexedKey("IP", n), static_cast<std::int32_t>(record.ipAddress));
        batch.writeString(kSection, indexedKey("MAC", n), record.macAddress);
        batch.writeInt(kSection, indexedKey("DestIP", n),
                       static_cast<std::int32_t>(saved.destinationIp));
        batch.writeInt(kSection, indexedKey("Port", n), saved.destinationPort);
        batch.writeInt(kSection, indexedKey("Protocol", n), saved.protocol);
        batch.writeInt(kSection, indexedKey("Flags", n), saved.flags);
    }
    return settings.write(batch);
}

}  // namespace corvane
