// The main window and its commands against simulated modules in the network lab:
// the datagrams they cause are read back, byte for byte, from the modules' log.
#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QWizard>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "devices/device_list_storage.h"
#include "lab/lab_environment.h"
#include "net/local_addresses.h"
#include "packed_value.h"
#include "reports/address_formats.h"
#include "ui/add_device_wizard.h"
#include "ui/dlg_ip_out.h"
#include "ui/dlg_main.h"
#include "ui/ip_address_edit.h"
#include "ui/main_window_commands.h"
#include "ui/message_box.h"
#include "ui/modal_driver.h"
#include "ui/page_add_configure.h"
#include "ui/page_add_list.h"
#include "ui/save_file_dialog.h"
#include "ui/state_icons.h"

using namespace corvane;
using corvane::lab::LabEnvironment;
using corvane::lab::LoggedDatagram;
using corvane::lab::ModsimProcess;
using corvane::testing::activeModal;
using corvane::testing::whenReady;

namespace {

QByteArray bytesOf(const LoggedDatagram& datagram) {
    return QByteArray(reinterpret_cast<const char*>(datagram.bytes.data()),
                      static_cast<qsizetype>(datagram.bytes.size()));
}

bool hasTag(const LoggedDatagram& datagram, const char* tag) {
    return datagram.bytes.size() >= 8 && std::equal(tag, tag + 8, datagram.bytes.begin());
}

// The four bytes of an address on the wire.
QByteArray stored(Ipv4Address address) {
    const Ipv4Address::Octets octets = address.octets();
    return QByteArray(reinterpret_cast<const char*>(octets.data()), 4);
}

}  // namespace

class MainWindowLabTest : public QObject {
    Q_OBJECT

    LabEnvironment m_lab;
    QTemporaryDir m_folder;
    std::unique_ptr<SettingsFile> m_settings;
    QStringList m_messages;
    ModsimProcess m_modsim;

    std::string module(int n) const { return m_lab.segments[0].moduleAddress(n); }
    Ipv4Address moduleIp(int n) const { return lab::ipv4Of(module(n)); }

    void startModules(const std::string& config, const std::vector<std::string>& arguments = {}) {
        std::string error;
        QVERIFY2(m_modsim.start(m_lab, m_lab.segments[0], arguments, config, error), error.c_str());
    }

    std::unique_ptr<CDlgMain> openWindow() {
        auto window = std::make_unique<CDlgMain>(
            *m_settings, DeviceOperations{},
            [](std::vector<LocalAddress>& list) { return listLocalAddresses(list); });
        installMainWindowCommands(*window);
        window->show();
        return window;
    }

    void storeDevices(const std::vector<int>& modules) {
        DeviceList list;
        for (int n : modules) {
            DeviceRecord record = DeviceRecord::newRecord();
            record.ipAddress = moduleIp(n);
            record.macAddress =
                QStringLiteral("02:00:00:00:00:%1").arg(n, 2, 10, QLatin1Char('0')).toStdString();
            list.push_back(record);
        }
        QVERIFY(saveDeviceList(*m_settings, list));
    }

    static QTreeWidget* table(CDlgMain& window) {
        return static_cast<QTreeWidget*>(window.control(1000));
    }
    static int icon(CDlgMain& window, int row) {
        return table(window)->topLevelItem(row)->data(0, Qt::UserRole).toInt();
    }
    static QString cell(CDlgMain& window, int row, int column) {
        return table(window)->topLevelItem(row)->text(column);
    }
    // Presses a command button and waits until the command and its windows have ended.
    static void click(CDlgMain& window, int id) {
        QTest::mouseClick(static_cast<QAbstractButton*>(window.control(id)), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            !window.session().isBusy() && QApplication::activeModalWidget() == nullptr, 15000);
    }
    static void selectRow(CDlgMain& window, int row) {
        table(window)->setCurrentItem(table(window)->topLevelItem(row));
    }
    std::vector<LoggedDatagram> sent(const char* tag) const {
        std::vector<LoggedDatagram> found;
        for (const LoggedDatagram& datagram : m_modsim.log()) {
            if (hasTag(datagram, tag)) {
                found.push_back(datagram);
            }
        }
        return found;
    }

private slots:
    void initTestCase() {
        std::string reason;
        if (!LabEnvironment::load(m_lab, reason)) {
            std::fprintf(stderr, "SKIP: %s\n", reason.c_str());
            std::exit(77);
        }
        QVERIFY(m_folder.isValid());
    }

    void init() {
        const QString path = m_folder.filePath(QStringLiteral("corvane-control.ini"));
        QFile::remove(path);
        m_settings = std::make_unique<SettingsFile>(path.toStdString());
        m_settings->writeInt("Layout", "Language", 0);
        m_messages.clear();
        setMessageHandler([this](const QString& text, MessageStyle) {
            m_messages << text;
            return MessageAnswer::yes;
        });
    }
    void cleanup() {
        m_modsim.stop();
        setMessageHandler({});
        setSaveFileHandler({});
    }

    void checkAndCheckAllUnderAJunkFlood() {
        startModules("mac=02:00:00:00:00:01 ip=" + module(1) +
                         " mode=3 protocol=1 port=1234 dest=239.1.1.1\n"
                         "mac=02:00:00:00:00:02 ip=" +
                         module(2) +
                         " silent=1\n"
                         "mac=02:00:00:00:00:03 ip=" +
                         module(3) +
                         " out=0x1000,239.2.2.2,5000,0x0100 out=0x1100,239.3.3.3,5001,0x0100\n"
                         "mac=02:00:00:00:00:04 ip=" +
                         module(4) + " in=0x2100,0.0.0.0,6000 mode=3\n",
                     {"--flood", "3000", "--flood-target", m_lab.segments[0].programAddress});
        storeDevices({1, 2, 3, 4});
        auto window = openWindow();
        QCOMPARE(window->session().localAddresses().size(), std::size_t{1});
        QCOMPARE(window->session().selectedLocalAddress().address,
                 lab::ipv4Of(m_lab.segments[0].programAddress));

        selectRow(*window, 0);
        click(*window, 1007);
        QCOMPARE(icon(*window, 0), static_cast<int>(StateIcon::running));
        QCOMPARE(cell(*window, 0, 4), QStringLiteral("239.1.1.1:1234"));
        QVERIFY(m_messages.isEmpty());

        selectRow(*window, 1);
        QElapsedTimer silentCheck;
        silentCheck.start();
        click(*window, 1007);
        QVERIFY(silentCheck.elapsed() >= 2900 && silentCheck.elapsed() < 4500);
        QCOMPARE(m_messages, QStringList{QStringLiteral("Device is not responding!")});
        QCOMPARE(icon(*window, 1), static_cast<int>(StateIcon::silent));
        QCOMPARE(cell(*window, 1, 3), QStringLiteral("No"));

        QElapsedTimer checkAll;
        checkAll.start();
        click(*window, 1008);
        // Three modules answer at once and one is silent: one time-out in all.
        QVERIFY2(checkAll.elapsed() < 4500, qPrintable(QString::number(checkAll.elapsed())));
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(window->selectedRow(), -1);
        QCOMPARE(icon(*window, 0), static_cast<int>(StateIcon::running));
        QCOMPARE(icon(*window, 1), static_cast<int>(StateIcon::silent));
        QCOMPARE(icon(*window, 2), static_cast<int>(StateIcon::running));  // second entry runs
        QCOMPARE(icon(*window, 3), static_cast<int>(StateIcon::stopped));  // inputs only
        QCOMPARE(cell(*window, 3, 3), QStringLiteral("Yes"));
        // Every status request went to its own module, 26 bytes on both ports.
        const auto requests = sent("WiZnAsGt");
        QVERIFY(requests.size() >= 2 * 6);
        for (const LoggedDatagram& request : requests) {
            QCOMPARE(request.bytes.size(), std::size_t{26});
            QCOMPARE(request.source, m_lab.segments[0].programAddress);
            QCOMPARE(request.sourcePort, packed(request.destinationPort));
        }
    }

    // Check All reads the whole list at once: 20 silent modules of 40 cost the operator
    // one time-out, not twenty, and every row ends up right.
    void checkAllOfFortyWithTwentySilentWaitsForOneTimeout() {
        constexpr int kModules = 40;
        std::vector<std::string> arguments = {"--modules",    std::to_string(kModules),
                                              "--base-ip",    module(1),
                                              "--mac-prefix", "02:00:00:00:00"};
        std::vector<int> listed;
        for (int n = 1; n <= kModules; ++n) {
            listed.push_back(n);
            // Odd modules are silent; every fourth runs its output.
            const std::string fields = n % 2 == 1   ? "silent=1"
                                       : n % 4 == 0 ? "mode=3 protocol=2 dest=239.1.1.1 port=1234"
                                                    : "mode=0";
            arguments.insert(arguments.end(), {"--set", std::to_string(n) + " " + fields});
        }
        startModules("", arguments);
        storeDevices(listed);
        auto window = openWindow();
        QElapsedTimer checkAll;
        checkAll.start();
        click(*window, 1008);
        QVERIFY2(checkAll.elapsed() < 4500, qPrintable(QString::number(checkAll.elapsed())));
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(window->selectedRow(), -1);
        for (int row = 0; row < kModules; ++row) {
            const int n = row + 1;
            const int expected = n % 2 == 1   ? static_cast<int>(StateIcon::silent)
                                 : n % 4 == 0 ? static_cast<int>(StateIcon::running)
                                              : static_cast<int>(StateIcon::stopped);
            QCOMPARE(icon(*window, row), expected);
            QCOMPARE(cell(*window, row, 3),
                     n % 2 == 1 ? QStringLiteral("No") : QStringLiteral("Yes"));
        }
        // Each module got exactly its two requests, one per port.
        std::map<std::string, int> perModule;
        for (const LoggedDatagram& request : sent("WiZnAsGt")) {
            ++perModule[request.destination];
        }
        QCOMPARE(perModule.size(), std::size_t{kModules});
        for (const auto& [address, count] : perModule) {
            QCOMPARE(count, 2);
        }
    }

    void addWithNewNetworkSettingsThenCheckAtTheNewAddress() {
        startModules("mac=02:00:00:00:00:0A ip=" + module(10) +
                     " mask=255.255.0.0 gateway=" + module(100) +
                     "\n"
                     "mac=00:1A:00:00:00:01 ip=" +
                     module(11) +
                     "\n"
                     "mac=A0:00:00:00:00:01 ip=" +
                     module(12) +
                     "\n"
                     "mac=0A:00:00:00:00:01 ip=" +
                     module(13) +
                     "\n"
                     "mac=02:00:00:00:00:05 ip=" +
                     module(5) + "\n");
        storeDevices({5});
        auto window = openWindow();
        QStringList listed;
        whenReady(
            [] {
                auto* wizard = activeModal<CAddDeviceWizard>();
                return wizard != nullptr && wizard->listPage() != nullptr &&
                       wizard->listPage()->searchedOnce() && !wizard->listPage()->found().empty();
            },
            [&] {
                auto* wizard = activeModal<CAddDeviceWizard>();
                auto* list = wizard->findChild<QTreeWidget*>(QStringLiteral("deviceList"));
                for (int row = 0; row < list->topLevelItemCount(); ++row) {
                    listed << list->topLevelItem(row)->text(0);
                }
                list->setCurrentItem(list->topLevelItem(1));  // 02:00:00:00:00:0A
                wizard->button(QWizard::NextButton)->click();
                // New address and gateway; the mask stays.
                wizard->findChild<CIpAddressEdit*>(QStringLiteral("ipAddressEdit"))
                    ->setAddress(moduleIp(40).hostOrder());
                wizard->findChild<CIpAddressEdit*>(QStringLiteral("defaultGatewayEdit"))
                    ->setAddress(moduleIp(101).hostOrder());
                wizard->button(QWizard::NextButton)->click();
                // The settings go out on a worker thread; the finish page follows.
                whenReady([wizard] { return wizard->currentId() == CAddDeviceWizard::kFinishPage; },
                          [wizard] { wizard->button(QWizard::FinishButton)->click(); }, 5000);
                QTimer::singleShot(8000, wizard, [wizard] { wizard->done(QDialog::Rejected); });
            },
            15000);
        click(*window, 1002);
        QCOMPARE(listed,
                 (QStringList{
                     QStringLiteral("00:1A:00:00:00:01"), QStringLiteral("02:00:00:00:00:0A"),
                     QStringLiteral("0A:00:00:00:00:01"), QStringLiteral("A0:00:00:00:00:01")}));

        // The search: 26 bytes with class 3, broadcast on both ports from the chosen address.
        const auto searches = sent("WiZnLiSt");
        QCOMPARE(searches.size(), std::size_t{2});
        for (const LoggedDatagram& search : searches) {
            QCOMPARE(bytesOf(search), QByteArray("WiZnLiSt\x00\x03", 10) + QByteArray(16, '\0'));
            QCOMPARE(search.destination, std::string("255.255.255.255"));
            QCOMPARE(search.source, m_lab.segments[0].programAddress);
        }
        // The full set of new settings for that MAC.
        const auto settings = sent("TiBbsEtA");
        QCOMPARE(settings.size(), std::size_t{2});
        const QByteArray expected =
            QByteArray("TiBbsEtA") + QByteArray("\x02\x00\x00\x00\x00\x0A", 6) +
            stored(moduleIp(40)) + stored(Ipv4Address::fromOctets(255, 255, 0, 0)) +
            stored(moduleIp(101));
        QCOMPARE(bytesOf(settings[0]), expected);
        QCOMPARE(settings[0].destination, std::string("255.255.255.255"));

        // Appended, saved, selected and checked at its new address: it answered.
        QCOMPARE(window->session().devices().size(), std::size_t{2});
        QCOMPARE(window->session().devices()[1].ipAddress, moduleIp(40));
        QCOMPARE(window->session().devices()[1].macAddress, std::string("02:00:00:00:00:0A"));
        QCOMPARE(window->selectedRow(), 1);
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(cell(*window, 1, 3), QStringLiteral("Yes"));
        QCOMPARE(Ipv4Address::fromSettingsInteger(m_settings->readInt("List", "IP1", 0)),
                 moduleIp(40));
    }

    void ipOutputStartAndStopOnTheWire() {
        startModules("mac=02:00:00:00:00:07 ip=" + module(7) + " mode=0\n");
        storeDevices({7});
        auto window = openWindow();
        selectRow(*window, 0);
        int openedRunning = -1;
        whenReady(
            [] { return activeModal<CDlgIpOut>() != nullptr; },
            [&] {
                CDlgIpOut* dialog = activeModal<CDlgIpOut>();
                openedRunning = dialog->running;
                dialog->findChild<CIpAddressEdit*>(QStringLiteral("address"))
                    ->setAddress(Ipv4Address::fromOctets(239, 10, 20, 30).hostOrder());
                auto* port = dialog->findChild<QLineEdit*>(QStringLiteral("port"));
                port->setText(QStringLiteral("5004"));
                dialog->findChild<QComboBox*>(QStringLiteral("protocol"))->setCurrentIndex(2);
                dialog->findChild<QAbstractButton*>(QStringLiteral("noStuffing"))->setChecked(true);
                dialog->findChild<QAbstractButton*>(QStringLiteral("start"))->click();
                QTest::keyClick(dialog, Qt::Key_Escape);
            });
        click(*window, 1006);
        QCOMPARE(openedRunning, 0);
        const auto started = m_modsim.waitForLog(
            [](const LoggedDatagram& d) { return hasTag(d, "TiBbaSiC"); }, 2, 2000);
        QCOMPARE(started.size(), std::size_t{2});
        QCOMPARE(bytesOf(started[0]),
                 QByteArray("TiBbaSiC\x02\x03\x13\x8C\xEF\x0A\x14\x1E\x00\x10", 18) +
                     QByteArray(12, '\0'));
        QCOMPARE(started[0].destination, module(7));
        QCOMPARE(m_settings->readInt("List", "Port0", 0), 5004);

        // The module took it: the next Check shows the output running.
        click(*window, 1007);
        QCOMPARE(icon(*window, 0), static_cast<int>(StateIcon::running));
        QCOMPARE(cell(*window, 0, 4), QStringLiteral("239.10.20.30:5004"));

        whenReady([] { return activeModal<CDlgIpOut>() != nullptr; },
                  [&] {
                      CDlgIpOut* dialog = activeModal<CDlgIpOut>();
                      openedRunning = dialog->running;
                      dialog->findChild<QAbstractButton*>(QStringLiteral("stop"))->click();
                      QTest::keyClick(dialog, Qt::Key_Escape);
                  });
        click(*window, 1006);
        QCOMPARE(openedRunning, 1);
        const auto all = m_modsim.waitForLog(
            [](const LoggedDatagram& d) { return hasTag(d, "TiBbaSiC"); }, 4, 2000);
        QCOMPARE(all.size(), std::size_t{4});
        QCOMPARE(bytesOf(all[3]), QByteArray("TiBbaSiC") + QByteArray(22, '\0'));
        click(*window, 1007);
        QCOMPARE(icon(*window, 0), static_cast<int>(StateIcon::stopped));
    }

    void passportOfASimulatedModule() {
        startModules("mac=02:00:00:00:00:08 ip=" + module(8) + " passport-length=300\n");
        storeDevices({8});
        auto window = openWindow();
        selectRow(*window, 0);
        const QString target = m_folder.filePath(QStringLiteral("passport.txt"));
        QString offered;
        setSaveFileHandler([&](const SaveFileRequest& request) {
            offered = request.initialName;
            return std::optional<QString>(target);
        });
        click(*window, 1005);
        QVERIFY(m_messages.isEmpty());
        QVERIFY2(offered.startsWith(QStringLiteral("passport_020000000008_")), qPrintable(offered));
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QCOMPARE(text.size(), qsizetype{1027});
        const QList<QByteArray> lines = text.split('\n');
        QCOMPARE(lines[0], QByteArray("---DEVICEPASSPORT---\r"));
        // Block offset 62 starts the reply: "WiZnPaSs" and the MAC, from the end of line 3.
        QCOMPARE(lines[2].mid(60, 4), QByteArray("5769"));
        QCOMPARE(lines[3].left(24), QByteArray("5A6E50615373020000000008"));
        QCOMPARE(lines[1].left(32),
                 QByteArray("010000003E000000A2010000") + stored(moduleIp(8)).toHex().toUpper());
        // A 300-byte reply: everything after it is zero (block offsets 362 to 479).
        QCOMPARE(lines[15].right(65), QByteArray(64, '0') + '\r');
        const auto requests = sent("WiZnGpAs");
        QVERIFY(!requests.empty());
        QCOMPARE(bytesOf(requests[0]), QByteArray("WiZnGpAs") + QByteArray(18, '\0'));
    }
};

QTEST_MAIN(MainWindowLabTest)
#include "main_window_lab_test.moc"
