#include "exporter/site_device_list.h"

#include <sys/stat.h>

#include "app/settings_file.h"
#include "devices/device_list_storage.h"
#include "exporter/exporter_log.h"

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
        stamp.modifiedNs =
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    }
    return stamp;
}

std::shared_ptr<SiteList> SiteDeviceList::readList() const {
    auto list = std::make_shared<SiteList>();
    const SettingsAccess access = checkSettingsAccess(m_location);
    list->state = access.state;
    list->path = access.path;
    list->reason = access.reason;
    if (access.state == SettingsState::readable) {
        loadDeviceList(SettingsFile(m_location), list->devices);
    }
    return list;
}

std::shared_ptr<const SiteList> SiteDeviceList::current() {
    const std::lock_guard lock(m_mutex);
    const Stamp stamp = stampNow();
    if (m_list != nullptr && stamp == m_stamp) {
        return m_list;
    }
    auto list = readList();
    const bool everRead =
        m_list != nullptr && (m_list->state == SettingsState::readable || m_list->kept);
    if (list->state == SettingsState::unreadable ||
        (list->state == SettingsState::absent && everRead)) {
        list->ok = false;
        if (list->state == SettingsState::absent) {
            list->reason = "the file has been removed";
        }
        if (everRead) {
            list->devices = m_list->devices;
            list->kept = true;
        }
    }
    const bool wasOk = m_list == nullptr || m_list->ok;
    if (!list->ok && (wasOk || list->reason != m_list->reason)) {
        logLine(
            LogLevel::error,
            "cannot read the settings file " + list->path + ": " + list->reason +
                (list->kept ? "; the last device list read (" +
                                  std::to_string(list->devices.size()) + " modules) stays in force"
                            : "; /targets answers 500 until it can be read"));
    } else if (list->ok && !wasOk) {
        logLine(LogLevel::info, "the settings file " + list->path + " can be read again: " +
                                    std::to_string(list->devices.size()) + " modules listed");
    }
    m_stamp = stamp;
    m_list = std::move(list);
    return m_list;
}

}  // namespace corvane::exporter
