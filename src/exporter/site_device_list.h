// The operator's device list as the exporter sees it: read from the settings file again
// whenever the file has changed (another file, size or modification time), so a module
// the operator adds in corvane-control is watched from the next refresh. Never written.
// When the file is removed or cannot be read any more, the last list read stays in
// force (Prometheus would otherwise drop every module, and no alert on them would
// fire), an error is logged and `ok` says so, for the exporter's own metrics.
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
    SettingsState state = SettingsState::absent;  // of the file now
    std::string path;                             // the file read, or that would be read
    std::string reason;  // why it cannot be read, when unreadable or removed
    DeviceList devices;  // as last read (empty when never read)
    // False when the file cannot be read now, or has been removed since it was read.
    bool ok = true;
    bool kept = false;  // `devices` come from an earlier read of the file
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
    std::shared_ptr<SiteList> readList() const;

    const SettingsLocation m_location;
    std::mutex m_mutex;
    Stamp m_stamp;
    std::shared_ptr<const SiteList> m_list;
};

}  // namespace corvane::exporter
