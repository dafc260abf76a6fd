// The operator's device list as the exporter sees it: read from the settings file again
// whenever the file has changed (another file, size or modification time), so a module
// the operator adds in corvane-control is watched from the next refresh. Never written.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "app/settings_path.h"
#include "devices/device_record.h"
#include "devices/operator_site.h"

namespace corvane::exporter {

struct SiteList {
    SettingsState state = SettingsState::absent;
    std::string path;    // the file read, or that would be read
    std::string reason;  // why it cannot be read, when unreadable
    DeviceList devices;  // empty unless readable
};

class SiteDeviceList {
public:
    explicit SiteDeviceList(SettingsLocation location);

    // The list as the file holds it now. Safe from any thread.
    std::shared_ptr<const SiteList> current();

    const SettingsLocation& location() const { return m_location; }

private:
    struct Stamp {
        SettingsState state = SettingsState::absent;
        std::string path;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        std::int64_t modifiedNs = -1;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };

    Stamp stampNow() const;

    const SettingsLocation m_location;
    std::mutex m_mutex;
    Stamp m_stamp;
    std::shared_ptr<const SiteList> m_list;
};

}  // namespace corvane::exporter
