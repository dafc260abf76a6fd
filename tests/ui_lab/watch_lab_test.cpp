// Watch against simulated modules in the network lab, with a notification service of the
// test's own on a private session bus: rows change without a click, a module taken off
// the segment turns red and is told about, a command started during a sweep waits for it
// and runs, the tick survives a restart, and unticking is stored.
#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

#include "devices/device_list_storage.h"
#include "lab/lab_environment.h"
#include "net/local_addresses.h"
#include "ui/dlg_main.h"
#include "ui/main_window_commands.h"
#include "ui/message_box.h"
#include "ui/state_icons.h"

using namespace corvane;
using corvane::lab::LabEnvironment;
using corvane::lab::LoggedDatagram;
using corvane::lab::ModsimProcess;

// Records what the program asks the desktop to show.
class NotificationRecorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList bodies;

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        bodies << summary + QLatin1String(": ") + body;
        return static_cast<uint>(bodies.size());
    }
};

class WatchLabTest : public QObject {
    Q_OBJECT

    static constexpr int kWatchSeconds = 2;

    LabEnvironment m_lab;
    QTemporaryDir m_folder;
    std::unique_ptr<SettingsFile> m_settings;
    QProcess m_bus;
    NotificationRecorder m_recorder;
    ModsimProcess m_rack;
    std::unique_ptr<CDlgMain> m_window;

    std::string module(int n) const { return m_lab.segments[0].moduleAddress(n); }

    // The rack: module 1 runs its output, module 2 has it stopped, module 3 (while
    // present) runs. Only one simulator can own the modules' ports at a time.
    void startRack(bool withModuleThree) {
        std::string config = "mac=02:00:00:00:00:01 ip=" + module(1) +
                             " mode=3 protocol=2 dest=239.1.1.1 port=1234\n"
                             "mac=02:00:00:00:00:02 ip=" +
                             module(2) + " mode=0\n";
        if (withModuleThree) {
            config += "mac=02:00:00:00:00:03 ip=" + module(3) + " mode=3\n";
        }
        std::string error;
        QVERIFY2(m_rack.start(m_lab, m_lab.segments[0], {}, config, error), error.c_str());
    }

    std::unique_ptr<CDlgMain> openWindow() {
        auto window = std::make_unique<CDlgMain>(
            *m_settings, DeviceOperations{},
            [](std::vector<LocalAddress>& list) { return listLocalAddresses(list); });
        installMainWindowCommands(*window);
        // Modal, as the program runs it.
        window->setWindowModality(Qt::ApplicationModal);
        window->show();
        return window;
    }
    QTreeWidget* table() const { return static_cast<QTreeWidget*>(m_window->control(1000)); }
    int icon(int row) const { return table()->topLevelItem(row)->data(0, Qt::UserRole).toInt(); }
    std::vector<LoggedDatagram> statusRequests(const ModsimProcess& modsim, int n) const {
        std::vector<LoggedDatagram> found;
        for (const LoggedDatagram& datagram : modsim.log()) {
            if (datagram.destination == module(n) && datagram.bytes.size() >= 8 &&
                std::equal(datagram.bytes.begin(), datagram.bytes.begin() + 8, "WiZnAsGt")) {
                found.push_back(datagram);
            }
        }
        return found;
    }

    bool startPrivateBus() {
        m_bus.setProgram(QStringLiteral("dbus-daemon"));
        m_bus.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                            QStringLiteral("--print-address"),
                            QStringLiteral("--address=unix:path=") + m_folder.filePath("bus")});
        m_bus.start();
        if (!m_bus.waitForStarted(5000) || !m_bus.waitForReadyRead(5000)) {
            return false;
        }
        const QByteArray address = m_bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QDBusConnection service =
            QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("recorder"));
        return service.registerService(QStringLiteral("org.freedesktop.Notifications")) &&
               service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &m_recorder,
                                      QDBusConnection::ExportAllSlots);
    }

private slots:
    void initTestCase() {
        std::string reason;
        if (!LabEnvironment::load(m_lab, reason)) {
            std::fprintf(stderr, "SKIP: %s\n", reason.c_str());
            std::exit(77);
        }
        QVERIFY(m_folder.isValid());
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
            std::fprintf(stderr, "SKIP: dbus-daemon is missing (package dbus-daemon)\n");
            std::exit(77);
        }
        QVERIFY2(startPrivateBus(), "no private session bus with a notification service");
        setMessageHandler([](const QString&, MessageStyle) { return MessageAnswer::ok; });
        startRack(true);
        m_settings = std::make_unique<SettingsFile>(
            m_folder.filePath(QStringLiteral("corvane-control.ini")).toStdString());
        m_settings->writeInt("Layout", "Language", 0);
        m_settings->writeInt("Config", "WatchSeconds", kWatchSeconds);
        DeviceList list;
        for (int n = 1; n <= 3; ++n) {
            DeviceRecord record = DeviceRecord::newRecord();
            record.ipAddress = lab::ipv4Of(module(n));
            record.macAddress = "02:00:00:00:00:0" + std::to_string(n);
            list.push_back(record);
        }
        QVERIFY(saveDeviceList(*m_settings, list));
    }
    void cleanupTestCase() {
        m_window.reset();
        setMessageHandler({});
        m_bus.terminate();
        m_bus.waitForFinished(3000);
    }

    // Ticked: the rows follow the modules without any click, and a module taken off the
    // segment turns red within two sweeps and is told about exactly once.
    void watchFollowsTheModulesAndTellsOnce() {
        m_window = openWindow();
        auto* watchBox = static_cast<QCheckBox*>(m_window->control(1011));
        QCOMPARE(watchBox->text(), QStringLiteral("Watch"));
        QVERIFY(!watchBox->isChecked());
        QTest::mouseClick(watchBox, Qt::LeftButton, {}, QPoint(6, watchBox->height() / 2));
        QVERIFY(watchBox->isChecked());
        QCOMPARE(m_settings->readInt("Config", "Watch", -1), 1);
        QTRY_VERIFY_WITH_TIMEOUT(icon(0) == static_cast<int>(StateIcon::running) &&
                                     icon(1) == static_cast<int>(StateIcon::stopped) &&
                                     icon(2) == static_cast<int>(StateIcon::running),
                                 5000);
        QVERIFY2(table()->topLevelItem(1)->toolTip(0).startsWith(QStringLiteral("Last answer: ")),
                 qPrintable(table()->topLevelItem(1)->toolTip(0)));

        // Module 3 leaves between two sweeps; the others are back before the next one.
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->session().sweeping(), 5000);
        m_rack.stop();
        startRack(false);
        QTRY_COMPARE_WITH_TIMEOUT(icon(2), static_cast<int>(StateIcon::silent),
                                  2 * kWatchSeconds * 1000 + 3500);
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder.bodies.size(), 1, 2000);
        QCOMPARE(
            m_recorder.bodies[0],
            QStringLiteral("Corvane Control: Module 3 (02:00:00:00:00:03, %1) does not answer.")
                .arg(QString::fromStdString(module(3))));
        // That it is told once however many sweeps it stays silent, and that unticking
        // stops the sweeps, is shown on a scripted clock (tests/ui/main_window_watch_test).
        QCOMPARE(icon(0), static_cast<int>(StateIcon::running));
    }

    // A command started while a sweep waits for the silent module runs once it ends.
    void commandDuringASweepWaitsForItAndRuns() {
        QVERIFY(m_window != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(m_window->session().sweeping(), 5000);
        const std::size_t before = statusRequests(m_rack, 1).size();
        table()->setCurrentItem(table()->topLevelItem(0));
        QTest::mouseClick(static_cast<QAbstractButton*>(m_window->control(1007)), Qt::LeftButton);
        QVERIFY(m_window->session().hasDeferredCommand());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_window->session().hasDeferredCommand() && !m_window->session().isBusy(), 5000);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        // The sweep's pair for module 1, then Check's own pair after the sweep ended.
        const auto requests = statusRequests(m_rack, 1);
        QVERIFY(requests.size() >= before + 2);
        QCOMPARE(m_window->selectedRow(), 0);
        QCOMPARE(icon(0), static_cast<int>(StateIcon::running));
    }

    // The tick is kept in the settings file and brings the watch back at the next start.
    void tickSurvivesARestart() {
        m_window.reset();
        const std::size_t before = statusRequests(m_rack, 2).size();
        m_window = openWindow();
        QVERIFY(static_cast<QCheckBox*>(m_window->control(1011))->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(statusRequests(m_rack, 2).size() >= before + 2, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(icon(1), static_cast<int>(StateIcon::stopped), 3000);
    }

    // Unticked: the choice is stored and no sweep starts any more (the clock's part, that
    // no later tick sends, is shown on a scripted clock in tests/ui/main_window_watch_test).
    void untickingIsStoredAndEndsTheSweeps() {
        QVERIFY(m_window != nullptr);
        auto* watchBox = static_cast<QCheckBox*>(m_window->control(1011));
        QTest::mouseClick(watchBox, Qt::LeftButton, {}, QPoint(6, watchBox->height() / 2));
        QVERIFY(!watchBox->isChecked());
        QCOMPARE(m_settings->readInt("Config", "Watch", -1), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->session().sweeping(), 5000);
    }
};

QTEST_MAIN(WatchLabTest)
#include "watch_lab_test.moc"
