// Add, IP Output and Passport as the main window runs them, with fake modules.
#include <sys/resource.h>
#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <QWindow>
#include <QWizard>
#include <csignal>
#include <mutex>

#include "devices/device_list_storage.h"
#include "fake_sweep.h"
#include "packed_value.h"
#include "reports/address_formats.h"
#include "reports/passport_file.h"
#include "ui/add_device_wizard.h"
#include "ui/busy_wait.h"
#include "ui/dlg_ip_out.h"
#include "ui/dlg_main.h"
#include "ui/main_window_commands.h"
#include "ui/message_box.h"
#include "ui/modal_driver.h"
#include "ui/page_add_list.h"
#include "ui/passport_command.h"
#include "ui/save_file_dialog.h"
#include "ui/window_input.h"

using namespace corvane;
using corvane::testing::activeModal;
using corvane::testing::whenReady;

namespace {

struct Message {
    QString text;
    MessageStyle style;
};

DeviceHello hello(std::uint8_t macLast, Ipv4Address ip) {
    DeviceHello module;
    const char tag[] = "WiZnHeLo";
    std::copy(tag, tag + 8, module.tag.begin());
    module.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, macLast};
    module.ipAddress = ip.networkOrder();
    module.networkMask = Ipv4Address::fromOctets(255, 255, 0, 0).networkOrder();
    module.defaultGateway = Ipv4Address::fromOctets(10, 77, 0, 254).networkOrder();
    return module;
}

}  // namespace

class MainWindowCommandsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_folder;
    std::unique_ptr<SettingsFile> m_settings;
    std::vector<Message> m_messages;
    std::mutex m_mutex;  // the fakes run on the command's worker thread
    std::vector<DeviceHello> m_segment;
    std::map<Ipv4Address, StreamSettings> m_answering;
    std::map<Ipv4Address, PassportData> m_passports;
    std::vector<Ipv4Address> m_statusReads;
    std::vector<StreamSettings> m_settingsSent;
    std::function<void()> m_duringStatusRead;  // runs on the worker thread
    std::function<void()> m_duringSearch;      // runs on the worker thread

    DeviceOperations fakes() {
        DeviceOperations operations;
        operations.searchDevices = [this](const LocalAddress&, std::uint16_t,
                                          std::vector<DeviceHello>& found) {
            found = m_segment;
            if (m_duringSearch) {
                m_duringSearch();
            }
            return true;
        };
        operations.setNetworkSettings = [](const LocalAddress&, const MacAddress&, Ipv4Address,
                                           Ipv4Address, Ipv4Address) { return true; };
        operations.getStreamSettings = [this](const LocalAddress&, Ipv4Address ip,
                                              StreamSettings& settings) {
            const std::lock_guard lock(m_mutex);
            m_statusReads.push_back(ip);
            if (m_duringStatusRead) {
                m_duringStatusRead();
            }
            settings = {};
            const auto found = m_answering.find(ip);
            if (found == m_answering.end()) {
                return false;
            }
            settings = found->second;
            return true;
        };
        operations.setStreamSettings = [this](const LocalAddress&, Ipv4Address,
                                              const StreamSettings& settings) {
            m_settingsSent.push_back(settings);
            return true;
        };
        operations.getPassportData = [this](const LocalAddress&, Ipv4Address ip,
                                            PassportData& data) {
            const auto found = m_passports.find(ip);
            data = {};
            if (found == m_passports.end()) {
                return false;
            }
            data = found->second;
            return true;
        };
        operations.sweepStatus = testing::sweepOf(operations.getStreamSettings);
        return operations;
    }

    std::unique_ptr<CDlgMain> openWindow() {
        auto window =
            std::make_unique<CDlgMain>(*m_settings, fakes(), [](std::vector<LocalAddress>& list) {
                list = {{Ipv4Address::fromOctets(10, 77, 0, 1),
                         Ipv4Address::fromOctets(255, 255, 0, 0), 0}};
                return true;
            });
        installMainWindowCommands(*window);
        window->show();
        return window;
    }

    void storeDevice(Ipv4Address ip, const std::string& mac) {
        DeviceRecord record = DeviceRecord::newRecord();
        record.ipAddress = ip;
        record.macAddress = mac;
        QVERIFY(saveDeviceList(*m_settings, {record}));
    }

    // Waits until the command and every window it opened have ended.
    static void waitIdle(CDlgMain& window) {
        QTRY_VERIFY_WITH_TIMEOUT(
            !window.session().isBusy() && QApplication::activeModalWidget() == nullptr, 10000);
    }

    static void selectRow(CDlgMain& window, int row) {
        auto* table = static_cast<QTreeWidget*>(window.control(1000));
        table->setCurrentItem(table->topLevelItem(row));
    }

private slots:
    void init() {
        QVERIFY(m_folder.isValid());
        const QString path = m_folder.filePath(QStringLiteral("corvane-control.ini"));
        QFile::remove(path);
        m_settings = std::make_unique<SettingsFile>(path.toStdString());
        m_settings->writeInt("Layout", "Language", 0);
        m_messages.clear();
        m_segment.clear();
        m_answering.clear();
        m_passports.clear();
        m_statusReads.clear();
        m_settingsSent.clear();
        m_duringStatusRead = nullptr;
        m_duringSearch = nullptr;
        setMessageHandler([this](const QString& text, MessageStyle style) {
            m_messages.push_back({text, style});
            return MessageAnswer::ok;
        });
    }
    void cleanup() {
        setMessageHandler({});
        setSaveFileHandler({});
    }

    void addAppendsSavesSelectsAndChecksTheModule() {
        storeDevice(Ipv4Address::fromOctets(10, 77, 1, 5), "00:1A:2B:3C:4D:05");
        m_segment = {hello(0x05, Ipv4Address::fromOctets(10, 77, 1, 5)),
                     hello(0x07, Ipv4Address::fromOctets(10, 77, 1, 7))};
        auto window = openWindow();
        CAddDeviceWizard* seen = nullptr;
        int listed = -1;
        Ipv4Address adapter;
        std::uint16_t searchClass = 0;
        std::vector<std::string> listedMacs;
        whenReady(
            [&] {
                auto* wizard = activeModal<CAddDeviceWizard>();
                return wizard != nullptr && wizard->listPage() != nullptr &&
                       wizard->listPage()->searchedOnce() && !wizard->listPage()->found().empty();
            },
            [&] {
                seen = activeModal<CAddDeviceWizard>();
                adapter = seen->localAdapter.address;
                searchClass = seen->searchClass;
                listedMacs = seen->listedMacs;
                listed = static_cast<int>(seen->listPage()->found().size());
                auto* list = seen->findChild<QTreeWidget*>(QStringLiteral("deviceList"));
                list->setCurrentItem(list->topLevelItem(0));
                seen->button(QWizard::NextButton)->click();  // configure page
                seen->button(QWizard::NextButton)->click();  // unchanged: finish page
                seen->button(QWizard::FinishButton)->click();
                if (seen->isVisible()) {
                    seen->done(QDialog::Rejected);  // never leave the test hanging
                }
            });
        QTest::keyClick(window->control(1000), Qt::Key_Insert);
        waitIdle(*window);
        QVERIFY(seen != nullptr);
        QCOMPARE(adapter, Ipv4Address::fromOctets(10, 77, 0, 1));
        QCOMPARE(searchClass, std::uint16_t{3});
        QCOMPARE(listedMacs, std::vector<std::string>{"00:1A:2B:3C:4D:05"});
        QCOMPARE(listed, 1);  // the listed module is not offered again
        QCOMPARE(window->session().devices().size(), std::size_t{2});
        QCOMPARE(window->session().devices()[1].macAddress, std::string("00:1A:2B:3C:4D:07"));
        QCOMPARE(window->selectedRow(), 1);
        QCOMPARE(m_settings->readInt("List", "Total", 0), 2);
        QCOMPARE(m_settings->readString("List", "MAC1"), std::string("00:1A:2B:3C:4D:07"));
        QCOMPARE(m_settings->readInt("List", "Protocol1", 0), 1);
        QCOMPARE(m_settings->readInt("List", "Port1", 0), 1234);
        QCOMPARE(Ipv4Address::fromSettingsInteger(m_settings->readInt("List", "DestIP1", 0)),
                 Ipv4Address::fromOctets(224, 0, 0, 1));
        // Checked at once: the module is silent here.
        QCOMPARE(m_statusReads, std::vector<Ipv4Address>{Ipv4Address::fromOctets(10, 77, 1, 7)});
        QCOMPARE(m_messages.size(), std::size_t{1});
        QCOMPARE(m_messages[0].text, QStringLiteral("Device is not responding!"));
        QVERIFY(window->session().devices()[1].queried);
    }

    void cancelledAddChangesNothing() {
        auto window = openWindow();
        // The operator can press Cancel once the first search has given the page back.
        whenReady(
            [] {
                auto* wizard = activeModal<CAddDeviceWizard>();
                return wizard != nullptr && wizard->isVisible() && wizard->listPage() != nullptr &&
                       wizard->listPage()->searchedOnce() && !wizard->listPage()->searching();
            },
            [] { activeModal<CAddDeviceWizard>()->button(QWizard::CancelButton)->click(); });
        QTest::mouseClick(static_cast<QAbstractButton*>(window->control(1002)), Qt::LeftButton);
        waitIdle(*window);
        QVERIFY(window->session().devices().empty());
        QCOMPARE(m_settings->readInt("List", "Total", -1), -1);
    }

    void ipOutputOnASilentModuleOpensNoDialog() {
        storeDevice(Ipv4Address::fromOctets(10, 77, 1, 9), "");
        auto window = openWindow();
        selectRow(*window, 0);
        bool dialogSeen = false;
        whenReady([] { return activeModal<CDlgIpOut>() != nullptr; },
                  [&] {
                      dialogSeen = true;
                      activeModal<CDlgIpOut>()->reject();
                  },
                  500);
        QTest::mouseClick(static_cast<QAbstractButton*>(window->control(1006)), Qt::LeftButton);
        waitIdle(*window);
        QTest::qWait(600);
        QVERIFY(!dialogSeen);
        QCOMPARE(m_messages.size(), std::size_t{1});
        QCOMPARE(m_messages[0].text, QStringLiteral("Device is not responding!"));
        QVERIFY(window->session().devices()[0].queried);
        QVERIFY(!window->session().devices()[0].responded);
    }

    void ipOutputStoresTheDialogValuesWhicheverWayItCloses() {
        const Ipv4Address module = Ipv4Address::fromOctets(10, 77, 1, 9);
        storeDevice(module, "00:1A:2B:3C:4D:09");
        StreamSettings running{};
        running.mode = 3;
        running.protocol = 2;
        running.destinationIp = Ipv4Address::fromOctets(239, 1, 1, 1).networkOrder();
        running.destinationPort = 5000;
        running.flags = 1;
        running.auxWord1 = 0xBEEF;  // carried along into the saved settings
        m_answering[module] = running;
        auto window = openWindow();
        selectRow(*window, 0);
        int shownRunning = -1;
        whenReady([] { return activeModal<CDlgIpOut>() != nullptr; },
                  [&] {
                      CDlgIpOut* dialog = activeModal<CDlgIpOut>();
                      shownRunning = dialog->running;
                      dialog->findChild<QAbstractButton*>(QStringLiteral("stop"))->click();
                      QTest::keyClick(dialog, Qt::Key_Escape);
                  });
        QTest::mouseClick(static_cast<QAbstractButton*>(window->control(1006)), Qt::LeftButton);
        QTRY_VERIFY(shownRunning != -1);
        waitIdle(*window);
        QCOMPARE(shownRunning, 1);
        QCOMPARE(m_settingsSent.size(), std::size_t{1});
        QCOMPARE(m_settingsSent[0].mode, std::uint8_t{0});
        const DeviceRecord& record = window->session().devices()[0];
        QCOMPARE(record.liveStatus.mode, std::uint8_t{0});
        QCOMPARE(packed(record.savedSettings.destinationPort), std::uint16_t{5000});
        QCOMPARE(packed(record.savedSettings.auxWord1), std::uint16_t{0xBEEF});
        QCOMPARE(m_settings->readInt("List", "Port0", 0), 5000);
        QCOMPARE(m_settings->readInt("List", "Protocol0", 0), 2);
        QCOMPARE(m_settings->readInt("List", "Flags0", 0), 1);
        QCOMPARE(Ipv4Address::fromSettingsInteger(m_settings->readInt("List", "DestIP0", 0)),
                 Ipv4Address::fromOctets(239, 1, 1, 1));
    }

    // A command that a press starts (the second press of a double click, a key) begins
    // while the button or key is still held; its release then arrives during the
    // command's wait and is dropped. Afterwards the window the command opened, and the
    // main window once that has closed, must take mouse and keyboard input as usual.
    void inputReleasedDuringTheCommandLeavesEveryWindowUsable_data() {
        QTest::addColumn<bool>("doubleClick");  // else the Insert key
        QTest::newRow("double click on a row opens IP Output") << true;
        QTest::newRow("Insert opens the wizard") << false;
    }
    void inputReleasedDuringTheCommandLeavesEveryWindowUsable() {
        QFETCH(bool, doubleClick);
        const Ipv4Address module = Ipv4Address::fromOctets(10, 77, 1, 9);
        storeDevice(module, "00:1A:2B:3C:4D:09");
        m_answering[module] = StreamSettings{};
        m_answering[module].mode = 3;  // running: Stop is the enabled button
        auto window = openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto* table = static_cast<QTreeWidget*>(window->control(1000));
        const QPoint row = table->visualItemRect(table->topLevelItem(0)).center();
        QWidget* viewport = table->viewport();
        // The release the person makes while the command already waits for the module.
        auto releaseDuringWait = [&] {
            QMetaObject::invokeMethod(
                viewport,
                [&] {
                    if (doubleClick) {
                        testing::sendMouse(viewport, row, QEvent::MouseButtonRelease);
                    } else {
                        QTest::keyRelease(window->windowHandle(), Qt::Key_Insert);
                    }
                },
                Qt::QueuedConnection);
            QThread::msleep(300);
        };
        m_duringStatusRead = doubleClick ? std::function<void()>(releaseDuringWait) : nullptr;
        m_duringSearch = doubleClick ? nullptr : std::function<void()>(releaseDuringWait);

        bool stepRan = false;
        bool stopTaken = false;
        bool closedByEscape = false;
        if (doubleClick) {
            whenReady(
                [] { return activeModal<CDlgIpOut>() != nullptr; },
                [&] {
                    stepRan = true;
                    CDlgIpOut* dialog = activeModal<CDlgIpOut>();
                    testing::personClick(dialog->findChild<QPushButton*>(QStringLiteral("stop")));
                    stopTaken = m_settingsSent.size() == 1 && dialog->running == 0;
                    testing::personKey(dialog, Qt::Key_Escape);
                    closedByEscape = !dialog->isVisible();
                    if (!closedByEscape) {
                        dialog->reject();  // never leave the test hanging
                    }
                });
            testing::sendMouse(viewport, row, QEvent::MouseButtonPress);
            QTest::qWait(testing::kPersonHoldMs);
            testing::sendMouse(viewport, row, QEvent::MouseButtonRelease);
            QTest::qWait(testing::kPersonHoldMs);
            testing::sendMouse(viewport, row, QEvent::MouseButtonPress);  // the double click
        } else {
            whenReady(
                [] {
                    auto* wizard = activeModal<CAddDeviceWizard>();
                    return wizard != nullptr && wizard->listPage()->searchedOnce() &&
                           !wizard->listPage()->searching();
                },
                [&] {
                    stepRan = true;
                    auto* wizard = activeModal<CAddDeviceWizard>();
                    testing::personClick(wizard->button(QWizard::CancelButton));
                    stopTaken = closedByEscape = !wizard->isVisible();
                    if (wizard->isVisible()) {
                        wizard->reject();
                    }
                });
            table->setFocus();
            QTest::keyPress(window->windowHandle(), Qt::Key_Insert);
        }
        QTRY_VERIFY_WITH_TIMEOUT(stepRan, 10000);
        waitIdle(*window);
        QVERIFY2(stopTaken, "the opened window took no mouse click");
        QVERIFY2(closedByEscape, "the opened window did not close");
        QVERIFY(!QGuiApplication::mouseButtons());

        // The main window takes a click and a key again: Check reads the module, and
        // Delete asks about removing it.
        m_duringStatusRead = nullptr;
        const std::size_t readsBefore = m_statusReads.size();
        table->setCurrentItem(table->topLevelItem(0));
        testing::personClick(window->control(1007));
        QTRY_COMPARE(m_statusReads.size(), readsBefore + 1);
        QTRY_VERIFY(!window->session().isBusy());
        m_messages.clear();
        table->setFocus();
        testing::personKey(table, Qt::Key_Delete);
        QCOMPARE(m_messages.size(), std::size_t{1});
        QCOMPARE(m_messages[0].style, MessageStyle::question);
    }

    // Every wait blocks input through one window made once and afterwards only shown
    // and hidden: a blocker window destroyed after each command crashed the program on a
    // desktop with a window manager.
    void everyWaitBlocksThroughTheSameWindow() {
        const Ipv4Address module = Ipv4Address::fromOctets(10, 77, 1, 9);
        storeDevice(module, "00:1A:2B:3C:4D:09");
        m_answering[module] = StreamSettings{};
        m_duringStatusRead = [] { QThread::msleep(400); };
        auto window = openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        selectRow(*window, 0);
        QPointer<QWindow> first;
        WId firstId = 0;
        for (int command = 0; command < 3; ++command) {
            testing::personClick(window->control(1007));  // Check
            QVERIFY(window->session().isBusy());
            QWindow* blocker = QGuiApplication::modalWindow();
            QVERIFY(blocker != nullptr);
            QCOMPARE(blocker->objectName(), QStringLiteral("inputBlocker"));
            if (first == nullptr) {
                first = blocker;
                firstId = blocker->winId();
            }
            QCOMPARE(blocker, first.data());
            QCOMPARE(blocker->winId(), firstId);
            waitIdle(*window);
            QVERIFY2(first != nullptr, "the blocker window was destroyed after the command");
            QVERIFY(!first->isVisible());
            QCOMPARE(QGuiApplication::modalWindow(), nullptr);
        }
        QCOMPARE(m_statusReads.size(), std::size_t{3});
    }

    void passportIsSavedWhereTheOperatorSays_data() {
        QTest::addColumn<QString>("answer");  // "" cancels; a relative name goes into the folder
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("written");
        QTest::newRow("saved") << "passport.txt" << false << "" << true;
        QTest::newRow("cancelled") << "" << false << "" << false;
        QTest::newRow("silent module")
            << "passport.txt" << true << "Device is not responding!" << false;
        QTest::newRow("folder gone")
            << "missing/passport.txt" << false << "File save failed!" << false;
    }
    void passportIsSavedWhereTheOperatorSays() {
        QFETCH(QString, answer);
        QFETCH(bool, silent);
        QFETCH(QString, message);
        QFETCH(bool, written);
        const Ipv4Address module = Ipv4Address::fromOctets(192, 168, 1, 10);
        storeDevice(module, "00:11:22:33:44:55");
        PassportData data{};
        const char tag[] = "WiZnPaSs";
        std::copy(tag, tag + 8, data.begin());
        const std::uint8_t mac[] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
        std::copy(mac, mac + 6, data.begin() + 8);
        if (!silent) {
            m_passports[module] = data;
        }
        const QString target =
            m_folder.filePath(answer.isEmpty() ? QStringLiteral("none") : answer);
        for (const QString& name :
             QDir(m_folder.path()).entryList({QStringLiteral("*.txt")}, QDir::Files)) {
            QFile::remove(m_folder.filePath(name));
        }
        SaveFileRequest asked;
        setSaveFileHandler([&](const SaveFileRequest& request) -> std::optional<QString> {
            asked = request;
            if (answer.isEmpty()) {
                return std::nullopt;
            }
            return target;
        });
        auto window = openWindow();
        selectRow(*window, 0);
        QTest::mouseClick(static_cast<QAbstractButton*>(window->control(1005)), Qt::LeftButton);
        waitIdle(*window);
        QCOMPARE(m_messages.size(), message.isEmpty() ? std::size_t{0} : std::size_t{1});
        if (!message.isEmpty()) {
            QCOMPARE(m_messages[0].text, message);
            QCOMPARE(m_messages[0].style, MessageStyle::error);
        }
        const QStringList files = QDir(m_folder.path()).entryList(QDir::Files);
        QCOMPARE(files.size(), written ? 2 : 1);  // the settings file, and the passport
        QCOMPARE(QFile::exists(target), written);
        if (!silent) {
            QVERIFY(asked.initialName.startsWith(QStringLiteral("passport_001122334455_")));
            QCOMPARE(asked.initialName.size(),
                     QStringLiteral("passport_001122334455_20240131235959").size());
            QCOMPARE(asked.defaultSuffix, QStringLiteral("txt"));
            QCOMPARE(asked.filter, QStringLiteral("Text files (*.txt)|*.txt||"));
            QCOMPARE(qtNameFilter(asked.filter), QStringLiteral("Text files (*.txt)"));
        }
        if (written) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QCOMPARE(bytes.size(), qsizetype{1027});
            QVERIFY(bytes.startsWith("---DEVICEPASSPORT---\r\n010000003E000000A2010000C0A8010A"));
        }
    }

    void failedPassportWriteNamesTheFileAndKeepsTheOldOne() {
        const QString target = m_folder.filePath(QStringLiteral("old-passport.txt"));
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
            old.write("earlier passport\r\n");
        }
        setSaveFileHandler([&](const SaveFileRequest&) { return std::optional<QString>(target); });
        // A file-size limit makes the write fail part-way, as a full disk would.
        struct rlimit previous {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = previous;
        limited.rlim_cur = 500;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const PassportWriteOutcome outcome =
            writePassportFile(nullptr, Ipv4Address::fromOctets(10, 0, 0, 1), PassportData{},
                              QStringLiteral("Text files (*.txt)|*.txt||"), currentLocalTime());
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);

        QCOMPARE(outcome, PassportWriteOutcome::writeFailed);
        QCOMPARE(m_messages.size(), std::size_t{1});
        QVERIFY2(m_messages[0].text.contains(target), qPrintable(m_messages[0].text));
        QFile old(target);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("earlier passport\r\n"));
        QCOMPARE(QDir(m_folder.path())
                     .entryList(QDir::Files)
                     .filter(QStringLiteral("old-passport"))
                     .size(),
                 1);
    }
};

QTEST_MAIN(MainWindowCommandsTest)
#include "main_window_commands_test.moc"
