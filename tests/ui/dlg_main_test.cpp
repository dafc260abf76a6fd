// The main window driven as an operator would, with fake modules behind it.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <map>

#include "app/string_tables.h"
#include "devices/device_list_storage.h"
#include "net/fake_exchange_system.h"
#include "net/protocol_messages.h"
#include "reports/address_formats.h"
#include "ui/check_all_progress.h"
#include "ui/dlg_main.h"
#include "ui/main_window_watch.h"
#include "ui/message_box.h"
#include "ui/state_icons.h"

using namespace corvane;

namespace {

struct Message {
    QString text;
    MessageStyle style;
};

// A module's status reply carrying `settings`: the single form, or the entry list when
// it has outputs (an entry of another kind is skipped as the module's own would be).
test::Bytes statusReply(const StreamSettings& settings) {
    test::Bytes bytes(kStatusReplyTag.begin(), kStatusReplyTag.end());
    if (settings.outputCount == 0) {
        const SettingsRequest single = buildSettingsRequest(settings);
        bytes.insert(bytes.end(), single.begin() + kTagLength, single.end());
        return bytes;
    }
    for (std::size_t i = 0; i < settings.outputCount; ++i) {
        const OutputEntry& entry = settings.outputs[i];
        std::array<std::uint8_t, kStreamEntryLength> wire{};
        wire[0] = static_cast<std::uint8_t>(entry.control >> 8);
        wire[1] = static_cast<std::uint8_t>(entry.control);
        std::memcpy(wire.data() + 2, &entry.ip, 4);
        wire[6] = static_cast<std::uint8_t>(entry.port >> 8);
        wire[7] = static_cast<std::uint8_t>(entry.port);
        bytes.insert(bytes.end(), wire.begin(), wire.end());
    }
    return bytes;
}

// Modules that answer a status read with a given record, or stay silent, under the real
// sweep on a scripted kernel (tests/net/fake_exchange_system.h): a silent module's three
// seconds pass without waiting. The sweep runs on a worker thread; the tests look at
// the kernel only once the command has ended.
struct FakeModules {
    std::map<Ipv4Address, StreamSettings> answering;
    test::FakeExchangeSystem system;

    // Status reads asked for: each sends its request on both ports.
    int reads() const {
        int sent = 0;
        for (const auto& [address, count] : system.requests) {
            sent += count;
        }
        return sent / 2;
    }

    DeviceOperations operations() {
        DeviceOperations operations;
        operations.sweepStatus =
            [this](const LocalAddress& local, const std::vector<Ipv4Address>& targets,
                   const SweepOptions& options,
                   const std::function<void(std::size_t, const StatusReading&)>& onResult,
                   const std::atomic<bool>* cancel) {
                system.modules.clear();
                for (const auto& [address, settings] : answering) {
                    system.modules[address] = {
                        std::vector<test::FakeDelivery>{{5, statusReply(settings), 0, {}}}, {}};
                }
                return corvane::sweepStatus(local, targets, options, onResult, cancel, system);
            };
        return operations;
    }
};

Ipv4Address ip(int last) {
    return Ipv4Address::fromOctets(10, 77, 1, static_cast<std::uint8_t>(last));
}

StreamSettings runningTo(Ipv4Address destination, std::uint16_t port) {
    StreamSettings settings{};
    settings.mode = 3;
    settings.destinationIp = destination.networkOrder();
    settings.destinationPort = port;
    return settings;
}

}  // namespace

class DlgMainTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    std::unique_ptr<SettingsFile> m_settings;
    std::vector<Message> m_messages;
    MessageAnswer m_answer = MessageAnswer::yes;
    std::vector<LocalAddress> m_addresses;
    FakeModules m_modules;

    std::unique_ptr<CDlgMain> openWindow() {
        auto window = std::make_unique<CDlgMain>(*m_settings, m_modules.operations(),
                                                 [this](std::vector<LocalAddress>& list) {
                                                     list = m_addresses;
                                                     return !list.empty();
                                                 });
        return window;
    }
    void storeDevices(int count) {
        DeviceList list;
        for (int i = 0; i < count; ++i) {
            DeviceRecord record = DeviceRecord::newRecord();
            record.ipAddress = ip(10 + i % 200);
            record.macAddress = QStringLiteral("00:11:22:33:44:%1")
                                    .arg(i % 256, 2, 16, QLatin1Char('0'))
                                    .toUpper()
                                    .toStdString();
            list.push_back(record);
        }
        QVERIFY(saveDeviceList(*m_settings, list));
    }
    static QTreeWidget* table(CDlgMain& window) {
        return static_cast<QTreeWidget*>(window.control(1000));
    }
    static void selectRow(CDlgMain& window, int row) {
        QTreeWidget* devices = table(window);
        devices->setCurrentItem(devices->topLevelItem(row));
    }
    static QString cell(CDlgMain& window, int row, int column) {
        return table(window)->topLevelItem(row)->text(column);
    }
    static int icon(CDlgMain& window, int row) {
        return table(window)->topLevelItem(row)->data(0, Qt::UserRole).toInt();
    }
    static QString enabledControls(CDlgMain& window) {
        QString enabled;
        // 1011: Watch, enabled as Check All is.
        for (int id : {1046, 1007, 1008, 1006, 1011, 1002, 1003, 1005, 1001, 1004}) {
            if (window.control(id)->isEnabled()) {
                enabled += QString::number(id) + QLatin1Char(' ');
            }
        }
        return enabled.trimmed();
    }
    static QPushButton* button(CDlgMain& window, int id) {
        return static_cast<QPushButton*>(window.control(id));
    }
    // Presses a command button and waits for the command to end.
    static void press(CDlgMain& window, int id) {
        QTest::mouseClick(button(window, id), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.session().isBusy(), 10000);
    }

private slots:
    void init() {
        QVERIFY(m_folder.isValid());
        const QString path = m_folder.filePath(QStringLiteral("corvane-control.ini"));
        QFile::remove(path);
        m_settings = std::make_unique<SettingsFile>(path.toStdString());
        m_settings->writeInt("Layout", "Language", 0);
        m_messages.clear();
        m_answer = MessageAnswer::yes;
        m_addresses = {
            {Ipv4Address::fromOctets(10, 77, 0, 1), Ipv4Address::fromOctets(255, 255, 0, 0), 0},
            {Ipv4Address::fromOctets(10, 78, 0, 1), Ipv4Address::fromOctets(255, 255, 0, 0), 0}};
        m_modules.answering.clear();
        m_modules.system.requests.clear();
        m_modules.system.descriptorLimit = 1000;
        m_modules.system.onWait = nullptr;
        setMessageHandler([this](const QString& text, MessageStyle style) {
            m_messages.push_back({text, style});
            return style == MessageStyle::question ? m_answer : MessageAnswer::ok;
        });
    }
    void cleanup() { setMessageHandler({}); }

    void enableStates_data() {
        QTest::addColumn<int>("devices");
        QTest::addColumn<bool>("withAddress");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("enabled");
        QTest::newRow("empty list") << 0 << true << -1 << "1046 1002 1001 1004";
        QTest::newRow("rows, none selected") << 2 << true << -1 << "1046 1008 1011 1002 1001 1004";
        QTest::newRow("row selected")
            << 2 << true << 1 << "1046 1007 1008 1006 1011 1002 1003 1005 1001 1004";
        QTest::newRow("127 records: one more may be added")
            << 127 << true << 0 << "1046 1007 1008 1006 1011 1002 1003 1005 1001 1004";
        QTest::newRow("128 records")
            << 128 << true << 0 << "1046 1007 1008 1006 1011 1003 1005 1001 1004";
        QTest::newRow("no local address") << 2 << false << 0 << "1003 1001 1004";
    }
    void enableStates() {
        QFETCH(int, devices);
        QFETCH(bool, withAddress);
        QFETCH(int, selected);
        QFETCH(QString, enabled);
        storeDevices(devices);
        if (!withAddress) {
            m_addresses.clear();
        }
        auto window = openWindow();
        int addRuns = 0;
        CDlgMain::Commands commands;
        commands.add = [&addRuns](SiteSession&, QWidget&, int) { ++addRuns; };
        window->setCommands(commands);
        window->show();
        window->activateWindow();
        table(*window)->setFocus();
        if (selected >= 0) {
            selectRow(*window, selected);
        }
        QCOMPARE(enabledControls(*window), enabled);
        QCOMPARE(m_messages.size(), withAddress ? std::size_t{0} : std::size_t{1});
        if (!withAddress) {
            QCOMPARE(
                m_messages[0].text,
                QStringLiteral("Ethernet adapter on this computer is not functioning properly!"));
            QCOMPARE(m_messages[0].style, MessageStyle::error);
        }
        QTest::keyClick(table(*window), Qt::Key_Insert);
        QCOMPARE(addRuns, window->control(1002)->isEnabled() ? 1 : 0);
    }

    void storedLocalAddressGoneSelectsTheFirst() {
        m_settings->writeInt("Config", "LocalIP",
                             Ipv4Address::fromOctets(10, 99, 0, 1).settingsInteger());
        auto window = openWindow();
        QCOMPARE(window->session().selectedLocalIndex(), 0);
        QCOMPARE(Ipv4Address::fromSettingsInteger(m_settings->readInt("Config", "LocalIP", 0)),
                 Ipv4Address::fromOctets(10, 77, 0, 1));
        // A stored address that is still there is kept.
        m_settings->writeInt("Config", "LocalIP",
                             Ipv4Address::fromOctets(10, 78, 0, 1).settingsInteger());
        auto second = openWindow();
        QCOMPARE(second->session().selectedLocalIndex(), 1);
        static_cast<QComboBox*>(second->control(1046))->setCurrentIndex(0);
        QCOMPARE(Ipv4Address::fromSettingsInteger(m_settings->readInt("Config", "LocalIP", 0)),
                 Ipv4Address::fromOctets(10, 77, 0, 1));
    }

    void checkShowsStateOfOneModule() {
        storeDevices(2);
        m_modules.answering[ip(11)] = runningTo(Ipv4Address::fromOctets(239, 1, 1, 1), 1234);
        auto window = openWindow();
        window->show();
        QCOMPARE(icon(*window, 0), static_cast<int>(StateIcon::notQueried));

        selectRow(*window, 0);  // silent
        press(*window, 1007);
        QCOMPARE(m_messages.size(), std::size_t{1});
        QCOMPARE(m_messages[0].text, QStringLiteral("Device is not responding!"));
        QCOMPARE(icon(*window, 0), static_cast<int>(StateIcon::silent));
        QCOMPARE(cell(*window, 0, 3), QStringLiteral("No"));
        QCOMPARE(cell(*window, 0, 4), QString());
        QCOMPARE(window->selectedRow(), 0);

        selectRow(*window, 1);
        press(*window, 1007);
        QCOMPARE(m_messages.size(), std::size_t{1});
        QCOMPARE(icon(*window, 1), static_cast<int>(StateIcon::running));
        QCOMPARE(cell(*window, 1, 3), QStringLiteral("Yes"));
        QCOMPARE(cell(*window, 1, 4), QStringLiteral("239.1.1.1:1234"));

        // The module stops: yellow, and the output column empties.
        m_modules.answering[ip(11)].mode = 0;
        press(*window, 1007);
        QCOMPARE(icon(*window, 1), static_cast<int>(StateIcon::stopped));
        QCOMPARE(cell(*window, 1, 4), QString());
    }

    void checkAllUpdatesEveryRowSilently() {
        storeDevices(3);
        StreamSettings entries{};
        entries.outputCount = 2;
        entries.outputs[1].control = 0x1100;
        entries.outputs[1].ip = Ipv4Address::fromOctets(239, 2, 2, 2).networkOrder();
        m_modules.answering[ip(10)] = entries;
        m_modules.answering[ip(12)] = runningTo(Ipv4Address::fromOctets(239, 1, 1, 1), 5000);
        auto window = openWindow();
        window->show();
        selectRow(*window, 1);
        press(*window, 1008);
        QVERIFY(m_messages.empty());
        QCOMPARE(window->selectedRow(), -1);
        QCOMPARE(icon(*window, 0), static_cast<int>(StateIcon::running));
        QCOMPARE(cell(*window, 0, 4), QStringLiteral("0.0.0.0:0"));  // single-form fields are zero
        QCOMPARE(icon(*window, 1), static_cast<int>(StateIcon::silent));
        QCOMPARE(cell(*window, 1, 3), QStringLiteral("No"));
        QCOMPARE(cell(*window, 2, 4), QStringLiteral("239.1.1.1:5000"));
        QCOMPARE(m_modules.reads(), 3);
    }

    // Rows that share an address point at each other once Check All has run; their
    // state icons keep their meaning.
    void rowsSharingAnAddressAreMarkedAfterCheckAll() {
        storeDevices(3);
        DeviceList list;
        loadDeviceList(*m_settings, list);
        list[2].ipAddress = list[0].ipAddress;
        list[2].macAddress.clear();
        QVERIFY(saveDeviceList(*m_settings, list));
        m_modules.answering[ip(10)] = runningTo(Ipv4Address::fromOctets(239, 1, 1, 1), 1234);
        auto window = openWindow();
        window->show();
        QCOMPARE(table(*window)->topLevelItem(0)->toolTip(0), QString());
        press(*window, 1008);
        QCOMPARE(table(*window)->topLevelItem(0)->toolTip(3),
                 QStringLiteral("Address also used by #3"));
        QCOMPARE(table(*window)->topLevelItem(2)->toolTip(0),
                 QStringLiteral("Address also used by 00:11:22:33:44:00"));
        QCOMPARE(table(*window)->topLevelItem(1)->toolTip(0), QString());
        QCOMPARE(icon(*window, 0), static_cast<int>(StateIcon::running));
        QCOMPARE(icon(*window, 2), static_cast<int>(StateIcon::running));
    }

    // "Config"/"WatchSeconds": both edges of 2..3600; anything else is the default 10.
    void watchPeriodEdges() {
        const std::pair<const char*, int> rows[] = {
            {"2", 2}, {"1", 10}, {"3600", 3600}, {"3601", 10}, {"", 10}, {"-5", 10}, {"abc", 10}};
        for (const auto& [stored, seconds] : rows) {
            m_settings->writeString("Config", "WatchSeconds", stored);
            QCOMPARE(watchPeriodSeconds(*m_settings), seconds);
        }
    }

    // Three modules have answered and the fourth is in flight when Cancel is pressed:
    // the fourth still reports, the fifth is never asked. With descriptors for one read
    // at a time the sweep reads the modules one after another; the scripted kernel holds
    // the fourth read until Cancel has been pressed, so nothing here depends on how long
    // a read takes.
    void checkAllCanBeCancelledAfterTheModuleInFlight() {
        storeDevices(5);
        for (int i = 0; i < 5; ++i) {
            m_modules.answering[ip(10 + i)] =
                runningTo(Ipv4Address::fromOctets(239, 1, 1, 1), 1234);
        }
        m_modules.system.descriptorLimit = 2;  // one read's two sockets
        auto cancelled = std::make_shared<std::promise<void>>();
        const std::shared_future<void> held = cancelled->get_future().share();
        m_modules.system.onWait = [this, held] {
            if (m_modules.system.requests.count(ip(13)) != 0) {  // the fourth is in flight
                held.wait_for(std::chrono::seconds(10));         // bounded: a failing test ends
            }
        };
        auto window = openWindow();
        window->show();
        QString progressText;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, [&] {
            auto* progress = window->findChild<CheckAllProgress*>();
            if (progress != nullptr && progress->isVisible() && progressText.isEmpty()) {
                progressText = progress->findChild<QLabel*>()->text();
                QTest::mouseClick(progress->cancelButton(), Qt::LeftButton);
                cancelled->set_value();
            }
        });
        watcher.start(20);
        press(*window, 1008);
        // The progress window came up (after its delay) with three answered.
        QVERIFY2(progressText.startsWith(QStringLiteral("Checking device 3 of 5")),
                 qPrintable(progressText));
        QCOMPARE(m_modules.reads(), 4);  // the fourth was in flight when Cancel came
        QCOMPARE(icon(*window, 3), static_cast<int>(StateIcon::running));
        QCOMPARE(icon(*window, 4), static_cast<int>(StateIcon::notQueried));
    }

    void removeAsksAndKeepsStaleKeys() {
        storeDevices(3);
        auto window = openWindow();
        window->show();
        selectRow(*window, 1);
        m_answer = MessageAnswer::no;
        QTest::mouseClick(button(*window, 1003), Qt::LeftButton);
        QCOMPARE(window->session().devices().size(), std::size_t{3});
        QCOMPARE(m_messages.back().text, QStringLiteral("Remove device 10.77.1.11 from the list?"));
        QCOMPARE(m_messages.back().style, MessageStyle::question);

        m_answer = MessageAnswer::yes;
        window->activateWindow();
        table(*window)->setFocus();
        QTest::keyClick(table(*window), Qt::Key_Delete);
        QCOMPARE(window->session().devices().size(), std::size_t{2});
        QCOMPARE(window->selectedRow(), -1);
        QCOMPARE(m_settings->readInt("List", "Total", -1), 2);
        QCOMPARE(Ipv4Address::fromSettingsInteger(m_settings->readInt("List", "IP1", 0)), ip(12));
        QCOMPARE(Ipv4Address::fromSettingsInteger(m_settings->readInt("List", "IP2", 0)), ip(12));
        QCOMPARE(cell(*window, 1, 0), QStringLiteral("2"));

        while (!window->session().devices().empty()) {
            selectRow(*window, 0);
            QTest::mouseClick(button(*window, 1003), Qt::LeftButton);
        }
        QCOMPARE(table(*window)->topLevelItemCount(), 0);
        QCOMPARE(m_settings->readInt("List", "Total", -1), 0);
    }

    void languageSwitchRelabelsAtOnceAndRowsAtTheNextRebuild() {
        storeDevices(1);
        auto window = openWindow();
        window->show();
        selectRow(*window, 0);
        press(*window, 1007);
        QCOMPARE(cell(*window, 0, 3), QStringLiteral("No"));

        static_cast<QComboBox*>(window->control(1004))->setCurrentIndex(1);
        QCOMPARE(button(*window, 1008)->text(), QStringLiteral("Проверить все"));
        QCOMPARE(button(*window, 1001)->text(), QStringLiteral("Закрыть"));
        QCOMPARE(table(*window)->headerItem()->text(3), QStringLiteral("В сети"));
        QCOMPARE(table(*window)->headerItem()->text(0), QStringLiteral("№"));
        QCOMPARE(cell(*window, 0, 3), QStringLiteral("No"));  // until the next rebuild
        QCOMPARE(m_settings->readInt("Layout", "Language", -1), 1);
        QCOMPARE(window->windowTitle(), QStringLiteral("Corvane Control"));

        press(*window, 1008);
        QCOMPARE(cell(*window, 0, 3), QStringLiteral("Нет"));
        window.reset();

        auto next = openWindow();
        QCOMPARE(static_cast<QComboBox*>(next->control(1004))->currentIndex(), 1);
        QCOMPARE(button(*next, 1002)->text(), QStringLiteral("Добавить"));
        static_cast<QComboBox*>(next->control(1004))->setCurrentIndex(0);
    }

    void damagedMacTextIsShownAsStoredButCutWhenAbsurd() {
        const std::string huge(1 << 20, 'M');
        m_settings->writeInt("List", "Total", 2);
        m_settings->writeString("List", "MAC0", "not a mac");
        m_settings->writeString("List", "MAC1", huge);
        auto window = openWindow();
        QCOMPARE(cell(*window, 0, 1), QStringLiteral("not a mac"));
        QCOMPARE(cell(*window, 1, 1), QString(64, QLatin1Char('M')) + QChar(0x2026));
        QCOMPARE(window->session().devices()[1].macAddress, huge);  // kept whole, saved whole
    }

    void enterAndEscapeNeverCloseTheWindow() {
        auto window = openWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(table(*window), key);
            QTest::keyClick(window->control(1001), key);
            QVERIFY(window->isVisible());
        }
    }

    void controlsFollowTheirResizeRules() {
        auto window = openWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QRect tableBefore = window->control(1000)->geometry();
        const QRect checkBefore = window->control(1007)->geometry();
        const QRect closeBefore = window->control(1001)->geometry();
        const QSize before = window->size();
        window->resize(before + QSize(100, 60));
        QTRY_COMPARE(window->size(), before + QSize(100, 60));
        QCOMPARE(window->control(1000)->geometry(), tableBefore.adjusted(0, 0, 100, 60));
        QCOMPARE(window->control(1007)->geometry(), checkBefore.translated(100, 0));
        QCOMPARE(window->control(1001)->geometry(), closeBefore.translated(100, 60));

        window->showMinimized();
        QTest::qWait(50);
        window->showNormal();
        QTest::qWait(50);
        QCOMPARE(window->control(1001)->geometry(), closeBefore.translated(100, 60));
        window->resize(before);
        QTRY_COMPARE(window->control(1000)->geometry(), tableBefore);
    }

    void placementIsStoredAndRestored() {
        {
            auto window = openWindow();
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            window->setGeometry(40, 50, 900, 400);
            QTRY_COMPARE(window->geometry().size(), QSize(900, 400));
            window->showMinimized();
            QTest::qWait(50);
            window->close();
        }
        QCOMPARE(m_settings->readInt("Layout", "Width", -1), 900);
        QCOMPARE(m_settings->readInt("Layout", "Height", -1), 400);
        auto restored = openWindow();
        QCOMPARE(restored->geometry().size(), QSize(900, 400));
        restored->show();
        QVERIFY(QTest::qWaitForWindowExposed(restored.get()));
        // The controls follow a restored size too: Close keeps its distance from the corner.
        QFile::remove(QString::fromStdString(m_settings->path()));
        auto fresh = openWindow();
        fresh->show();
        const int bottomGap = fresh->height() - fresh->control(1001)->geometry().bottom();
        const int rightGap = fresh->width() - fresh->control(1001)->geometry().right();
        QCOMPARE(400 - restored->control(1001)->geometry().bottom(), bottomGap);
        QCOMPARE(900 - restored->control(1001)->geometry().right(), rightGap);

        // Only some of the four keys: the default place and size.
        QFile::remove(QString::fromStdString(m_settings->path()));
        m_settings->writeInt("Layout", "Language", 0);
        m_settings->writeInt("Layout", "Width", 900);
        m_settings->writeInt("Layout", "Height", 400);
        auto partial = openWindow();
        QVERIFY(partial->size() != QSize(900, 400));
    }
};

QTEST_MAIN(DlgMainTest)
#include "dlg_main_test.moc"
