#include "exporter/site_device_list.h"

#include <sys/stat.h>

#include "app/settings_file.h"
#include "devices/device_list_storage.h"

namespace corvane::exporter {

SiteDeviceList::SiteDeviceList(SettingsLocation location) : m_location(std::move(location)) {}

SiteDeviceList::Stamp SiteDeviceList::stampNow() const {
    const SettingsAccess access = checkSettingsAccess(m_location);
    Stamp stamp;
    stamp.state = access.state;
    stamp.path = access.path;
    struct stat st {};
    if (access.state == SettingsState::readable && ::stat(access.path.c_str(), &st) == 0) {
        stamp.device = st.st_dev;
        stamp.inode = st.st_ino;
        stamp.size = st.st_size;
        stamp.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 +
                           st.st_mtim.tv_nsec;
    }
    return stamp;
}

std::shared_ptr<const SiteList> SiteDeviceList::current() {
    const std::lock_guard lock(m_mutex);
    const Stamp stamp = stampNow();
    if (m_list != nullptr && stamp == m_stamp) {
        return m_list;
    }
    auto list = std::make_shared<SiteList>();
    const SettingsAccess access = checkSettingsAccess(m_location);
    list->state = access.state;
    list->path = access.path;
    list->reason = access.reason;
    if (access.state == SettingsState::readable) {
        loadDeviceList(SettingsFile(m_location), list->devices);
    }
    m_stamp = stamp;
    m_list = std::move(list);
    return m_list;
}

}  // namespace corvane::exporter
