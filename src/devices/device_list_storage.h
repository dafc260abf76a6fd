// The device list in the "List" section of the settings file.
#pragma once

#include <cstddef>

#include "app/settings_file.h"
#include "devices/device_record.h"

namespace corvane {

// A damaged file can claim any "Total", negative ones included (they compare as huge
// unsigned numbers). Loading stops here so it neither hangs nor exhausts memory; the
// program never writes more than MAX_DEVICES records, so a real list is far below it.
inline constexpr std::size_t kMaxLoadedDevices = 1024;

// Replaces `list` by the records stored in the file, in their stored order. Absent
// keys load as 0 (not the values of a new record).
void loadDeviceList(const SettingsFile& settings, DeviceList& list);

// Writes "Total" and every record's keys as one atomic change of the file, so a crash
// leaves either the old list or the new one. Keys of positions at or beyond "Total"
// left from a longer list stay in the file and are never read.
bool saveDeviceList(SettingsFile& settings, const DeviceList& list);

}  // namespace corvane
