// The program's main window: the device list, the local-address and language choices,
// and every command the operator starts.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "app/settings_file.h"
#include "devices/device_record.h"
#include "net/wire_types.h"
#include "ui/busy_wait.h"
#include "ui/device_operations.h"
#include "ui/main_window_watch.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace corvane {

class CDlgMain : public QDialog {
    Q_OBJECT

public:
    using AddressLister = std::function<bool(std::vector<LocalAddress>&)>;

    // Opens the window as the program does at start: language, captions, placement,
    // device list and local addresses from `settings`.
    CDlgMain(SettingsFile& settings, DeviceOperations operations, AddressLister listAddresses,
             QWidget* parent = nullptr);
    ~CDlgMain() override;

    void applyCaptions();
    void refreshView(int row);
    void updateCommands();

    // The commands, as the buttons run them.
    void checkSelected();
    void checkAll();
    void addDevice();
    void removeSelected();
    void ipOutput();
    void passport();

    // Checks one row: a fresh status read on a worker thread, applied to the record;
    // a silent module shows text 10102 when asked. `then` runs afterwards with whether
    // the module answered.
    void checkRow(int row, bool reportSilence, std::function<void(bool answered)> then = {});

    // Runs a command's network operation on a worker thread under the wait cursor, with
    // input blocked, then `done` from the event loop (see busy_wait.h). While it runs the
    // window starts no other command and cannot be closed.
    void runBusy(std::function<void()> work, std::function<void()> done);
    bool isBusy() const { return m_busy; }
    // A command the operator started while a Watch sweep was in flight; it runs, under
    // the wait cursor meanwhile, as soon as that sweep has ended.
    bool hasDeferredCommand() const { return static_cast<bool>(m_deferredCommand); }
    MainWindowWatch& watch() { return *m_watch; }

    // One status read's result, kept in the record and shown in its row at once,
    // without touching the selection.
    void applyStatusToRow(int row, bool answered, const StreamSettings& reported);

    int selectedRow() const;
    int selectedLocalIndex() const { return m_selectedLocalIndex; }
    const DeviceList& devices() const { return m_devices; }
    DeviceList& devices() { return m_devices; }
    const std::vector<LocalAddress>& localAddresses() const { return m_localAddresses; }
    LocalAddress selectedLocalAddress() const;
    SettingsFile& settings() { return m_settings; }
    DeviceOperations& operations() { return m_operations; }
    QWidget* control(int id) const;

    // The Add, IP Output and Passport commands are provided from outside so each lives
    // with the window it opens.
    using Command = std::function<void(CDlgMain&)>;
    void setAddCommand(Command command) { m_addCommand = std::move(command); }
    void setIpOutputCommand(Command command) { m_ipOutputCommand = std::move(command); }
    void setPassportCommand(Command command) { m_passportCommand = std::move(command); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void createControls();
    void chooseLanguage();
    void restorePlacement();
    void openLocalAddresses(const AddressLister& listAddresses);
    void onLanguageChanged(int index);
    void onLocalAddressChanged(int index);
    void savePlacement();
    void fillRow(QTreeWidgetItem& item, int row) const;
    QString rowToolTip(int row) const;
    // Each row's texts and tooltip again, in place.
    void refreshRows();
    // True, after remembering the command, while a Watch sweep is in flight.
    bool deferWhileWatching(void (CDlgMain::*command)());
    void onWatchSweepEnded();
    void onWatchToggled(bool ticked);

    SettingsFile& m_settings;
    DeviceOperations m_operations;
    DeviceList m_devices;
    std::vector<LocalAddress> m_localAddresses;
    int m_selectedLocalIndex = -1;
    std::uint32_t m_localIp = 0;
    std::array<QIcon, 4> m_stateIcons;  // drawn once: a rebuild may show a thousand rows
    QString m_yesText;
    QString m_noText;

    QTreeWidget* m_table = nullptr;
    QComboBox* m_languageList = nullptr;
    QComboBox* m_localAddressList = nullptr;
    std::map<int, QWidget*> m_controls;  // by control id
    QSize m_lastClientSize;              // invalid until the first size event

    bool m_busy = false;
    MainWindowWatch* m_watch = nullptr;
    QCheckBox* m_watchBox = nullptr;
    std::function<void()> m_deferredCommand;
    std::unique_ptr<InputBlocker> m_deferredBlocker;
    // Rows sharing an address are pointed out once a Check All or sweep has run.
    bool m_showDuplicates = false;

    const QEvent* m_lastKeyEvent = nullptr;  // only compared, never dereferenced
    QPointer<QWidget> m_lastKeyReceiver;

    Command m_addCommand;
    Command m_ipOutputCommand;
    Command m_passportCommand;
};

}  // namespace corvane
