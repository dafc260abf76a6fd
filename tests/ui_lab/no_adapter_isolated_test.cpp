// The main window on a computer without a usable IPv4 address: run in a network
// namespace of its own that holds only the loopback interface.
#include <QAbstractButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "devices/device_list_storage.h"
#include "net/local_addresses.h"
#include "reports/address_formats.h"
#include "ui/dlg_main.h"
#include "ui/message_box.h"

using namespace corvane;

class NoAdapterTest : public QObject {
    Q_OBJECT

private slots:
    void moduleCommandsStayDisabled() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        SettingsFile settings(folder.filePath(QStringLiteral("corvane-control.ini")).toStdString());
        settings.writeInt("Layout", "Language", 0);
        DeviceRecord record = DeviceRecord::newRecord();
        record.ipAddress = Ipv4Address::fromOctets(10, 77, 64, 1);
        QVERIFY(saveDeviceList(settings, {record, record}));

        QStringList messages;
        setMessageHandler([&](const QString& text, MessageStyle style) {
            messages << text;
            return style == MessageStyle::question ? MessageAnswer::yes : MessageAnswer::ok;
        });
        int addRuns = 0;
        CDlgMain window(settings, DeviceOperations{},
                        [](std::vector<LocalAddress>& list) { return listLocalAddresses(list); });
        CDlgMain::Commands commands;
        commands.add = [&](SiteSession&, QWidget&, int) { ++addRuns; };
        window.setCommands(commands);
        window.show();
        QCOMPARE(messages, QStringList{QStringLiteral(
                               "Ethernet adapter on this computer is not functioning properly!")});
        QVERIFY(window.session().localAddresses().empty());
        QCOMPARE(window.session().selectedLocalIndex(), -1);
        QCOMPARE(settings.readInt("Config", "LocalIP", -1), -1);  // nothing chosen, nothing written

        auto* table = static_cast<QTreeWidget*>(window.control(1000));
        table->setCurrentItem(table->topLevelItem(0));
        for (int id : {1046, 1007, 1008, 1006, 1002, 1005}) {
            QVERIFY2(!window.control(id)->isEnabled(), qPrintable(QString::number(id)));
        }
        for (int id : {1003, 1001, 1004}) {
            QVERIFY2(window.control(id)->isEnabled(), qPrintable(QString::number(id)));
        }
        window.activateWindow();
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Insert);
        QCOMPARE(addRuns, 0);
        // Remove still works without an adapter.
        QTest::mouseClick(static_cast<QAbstractButton*>(window.control(1003)), Qt::LeftButton);
        QCOMPARE(window.session().devices().size(), std::size_t{1});
        QCOMPARE(settings.readInt("List", "Total", -1), 1);
        setMessageHandler({});
    }
};

QTEST_MAIN(NoAdapterTest)
#include "no_adapter_isolated_test.moc"
