// The program's main window: a view of the site session (the device list, the local
// address, Watch) with the language choice, forwarding every command the operator
// starts to the session or to the command that opens its own window.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <map>

#include "ui/device_operations.h"
#include "ui/site_session.h"

class QCheckBox;
class QEvent;
class QComboBox;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace corvane {

class MainWindowWatch;
class SettingsFile;

class CDlgMain : public QDialog {
    Q_OBJECT

public:
    using AddressLister = SiteSession::AddressLister;
    // The Add, IP Output and Passport commands are provided from outside so each lives
    // with the window it opens; they work on the session, with this window as the
    // parent of what they open, for the selected row (-1 when none).
    using Command = std::function<void(SiteSession& session, QWidget& window, int row)>;
    struct Commands {
        Command add;
        Command ipOutput;
        Command passport;
    };

    // Opens the window as the program does at start: language, captions, placement,
    // device list and local addresses from `settings`.
    CDlgMain(SettingsFile& settings, DeviceOperations operations, AddressLister listAddresses,
             QWidget* parent = nullptr);
    ~CDlgMain() override;

    void setCommands(Commands commands) { m_commands = std::move(commands); }
    SiteSession& session() { return *m_session; }
    int selectedRow() const;
    QWidget* control(int id) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The commands, as the buttons and keys run them.
    void checkSelected();
    void checkAll();
    void addDevice();
    void removeSelected();
    void ipOutput();
    void passport();
    // True, after remembering the command, while a Watch sweep is in flight.
    bool deferWhileWatching(void (CDlgMain::*command)());
    void runCommand(const Command& command, int row);

    void createTable();
    void createControls();
    void placeControls();
    void connectControls();
    void applyCaptions();
    void chooseLanguage();
    void restorePlacement();
    void openLocalAddresses(const AddressLister& listAddresses);
    void onLanguageChanged(int index);
    void onLocalAddressChanged(int index);
    void onWatchSweepEnded();
    void onWatchToggled(bool ticked);
    void savePlacement();

    void refreshView(int row);
    void updateCommands();
    void fillRow(QTreeWidgetItem& item, int row) const;
    void refreshRow(int row);
    QString rowToolTip(int row) const;
    // Each row's texts and tooltip again, in place.
    void refreshRows();

    SiteSession* m_session = nullptr;
    MainWindowWatch* m_watch = nullptr;
    Commands m_commands;

    std::array<QIcon, 4> m_stateIcons;  // drawn once: a rebuild may show a thousand rows
    QString m_yesText;
    QString m_noText;
    QTreeWidget* m_table = nullptr;
    QComboBox* m_languageList = nullptr;
    QComboBox* m_localAddressList = nullptr;
    QCheckBox* m_watchBox = nullptr;
    std::map<int, QWidget*> m_controls;  // by control id
    QSize m_lastClientSize;              // invalid until the first size event
    // Rows sharing an address are pointed out once a Check All or sweep has run.
    bool m_showDuplicates = false;

    const QEvent* m_lastKeyEvent = nullptr;  // only compared, never dereferenced
    QPointer<QWidget> m_lastKeyReceiver;
};

}  // namespace corvane
