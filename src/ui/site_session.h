// The site the window works on: the device list and each row's last reading, the local
// address to send from, the settings the window keeps, whether a command or a
// background sweep is running, and the one routine that reads the list's modules.
// Check, Check All and Watch all read through sweep(); the window only shows what
// the session holds and forwards the operator's commands to it.
#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QRect>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "devices/device_record.h"
#include "net/wire_types.h"
#include "ui/device_operations.h"

namespace corvane {

class InputBlocker;
class SettingsFile;

class SiteSession : public QObject {
    Q_OBJECT

public:
    using AddressLister = std::function<bool(std::vector<LocalAddress>&)>;

    // Loads the device list from `settings`.
    SiteSession(SettingsFile& settings, DeviceOperations operations, QObject* parent = nullptr);
    // Abandons a background sweep in flight and waits for its worker (one pass, 100 ms).
    ~SiteSession() override;

    // --- Local addresses ---
    // Lists this machine's addresses and chooses the stored one, else the first, which
    // is then stored. Returns false when there is none (nothing can be sent).
    bool openLocalAddresses(const AddressLister& listAddresses);
    const std::vector<LocalAddress>& localAddresses() const { return m_localAddresses; }
    int selectedLocalIndex() const { return m_selectedLocalIndex; }
    bool hasLocalAddress() const { return m_selectedLocalIndex >= 0; }
    LocalAddress selectedLocalAddress() const;
    // The operator's choice, stored at once.
    void chooseLocalAddress(int index);

    // --- The device list; every change is saved and announced by listChanged ---
    const DeviceList& devices() const { return m_devices; }
    bool canAddDevice() const { return m_devices.size() < MAX_DEVICES; }
    void addDevice(const DeviceRecord& record);
    void storeDevice(int row, const DeviceRecord& record);
    void removeDevice(int row);

    // --- What the window keeps in the settings file ---
    bool storedLanguageRussian(bool fallback) const;
    void rememberLanguage(bool russian);
    std::optional<QRect> storedPlacement() const;
    void rememberPlacement(const QRect& placement);
    bool storedWatch() const;
    void rememberWatch(bool ticked);
    const SettingsFile& settings() const { return m_settings; }

    const DeviceOperations& operations() const { return m_operations; }

    // --- Commands ---
    // Runs a command's network operation on a worker thread under the wait cursor, with
    // input blocked, then `done` from the event loop (see busy_wait.h).
    void runBusy(std::function<void()> work, std::function<void()> done);
    bool isBusy() const { return m_busy; }
    // A background sweep is in flight.
    bool sweeping() const { return m_sweeping; }
    // True, after remembering `command`, while a background sweep is in flight: input
    // stays blocked under the wait cursor until it ends (one time-out at most), then
    // the command runs. A later command replaces an earlier one.
    bool deferWhileSweeping(std::function<void()> command);
    bool hasDeferredCommand() const { return static_cast<bool>(m_deferredCommand); }

    // --- The one sweep routine ---
    enum class SweepMode {
        command,     // under runBusy; `stop` cancels: what is in flight still reports
        background,  // beside the operator; `stop` abandons: nothing more is reported
    };
    struct SweepCall {
        std::vector<int> rows;
        SweepMode mode = SweepMode::command;
        std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
        // After each reading is in its row's record and rowRead has been emitted.
        std::function<void(int row, bool answered)> onReading;
        std::function<void()> onEnd;
    };
    // Reads the modules of `call.rows` all at once, so the whole sweep waits for one
    // time-out however many are silent. Each reading is stored on this thread as it
    // comes; a reading for a row that no longer holds the address read is dropped.
    void sweep(SweepCall call);
    // Check: one row through the same routine; `then` gets whether it answered.
    void checkRow(int row, std::function<void(bool answered)> then);

signals:
    // A reading is in the row's record.
    void rowRead(int row, bool answered);
    // The list changed (or a command wants it shown again); `row` is to be selected,
    // -1 for none.
    void listChanged(int row);

private:
    std::function<std::size_t()> sweepWork(const SweepCall& call);
    void storeReading(int row, Ipv4Address deviceIp, bool answered, const StreamSettings& reported,
                      const SweepCall& call);
    void onBackgroundSweepFinished();

    SettingsFile& m_settings;
    DeviceOperations m_operations;
    DeviceList m_devices;
    std::vector<LocalAddress> m_localAddresses;
    int m_selectedLocalIndex = -1;

    bool m_busy = false;
    bool m_sweeping = false;
    QFutureWatcher<std::size_t> m_background;
    std::shared_ptr<std::atomic<bool>> m_backgroundStop;
    std::function<void()> m_backgroundEnd;
    std::function<void()> m_deferredCommand;
    std::unique_ptr<InputBlocker> m_deferredBlocker;
};

}  // namespace corvane
