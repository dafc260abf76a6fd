// The IP output dialog's stream line against simulated modules that send real streams
// in the network lab: opened from the main window's IP Output button on a running
// module, it says within a few seconds what arrives at the program side.
#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

#include "devices/device_list_storage.h"
#include "lab/lab_environment.h"
#include "net/local_addresses.h"
#include "ui/dlg_ip_out.h"
#include "ui/dlg_main.h"
#include "ui/main_window_commands.h"
#include "ui/message_box.h"
#include "ui/modal_driver.h"
#include "ui/window_input.h"

using namespace corvane;
using corvane::lab::LabEnvironment;
using corvane::lab::ModsimProcess;
using corvane::testing::activeModal;
using corvane::testing::personClick;
using corvane::testing::personKey;
using corvane::testing::whenReady;

namespace {

constexpr int kIpOutputButton = 1006;
constexpr int kDeviceTable = 1000;
constexpr int kLineWaitMs = 8000;

}  // namespace

class IpOutStreamLabTest : public QObject {
    Q_OBJECT

    LabEnvironment m_lab;
    QTemporaryDir m_folder;
    ModsimProcess m_modsim;

    std::string module(int n) const { return m_lab.segments[0].moduleAddress(n); }

    // Opens the dialog on `row` with a person's click and returns the stream line's text
    // once `wanted` holds for it (or the last text seen), closing the dialog with Escape.
    QString streamLineOf(CDlgMain& window, int row, const std::function<bool(QString)>& wanted) {
        auto* table = static_cast<QTreeWidget*>(window.control(kDeviceTable));
        table->setCurrentItem(table->topLevelItem(row));
        QString seen;
        bool opened = false;
        whenReady([] { return activeModal<CDlgIpOut>() != nullptr; },
                  [&] {
                      opened = true;
                      CDlgIpOut* dialog = activeModal<CDlgIpOut>();
                      auto* line = dialog->findChild<QLabel*>(QStringLiteral("streamReadout"));
                      // Read as a person would, until the line says it or the wait is over.
                      QElapsedTimer waited;
                      waited.start();
                      do {
                          QTest::qWait(50);
                          seen = line->isVisible() ? line->text() : QString();
                      } while (!wanted(seen) && waited.elapsed() < kLineWaitMs);
                      personKey(dialog, Qt::Key_Escape);
                  });
        personClick(static_cast<QAbstractButton*>(window.control(kIpOutputButton)));
        const bool closed = QTest::qWaitFor(
            [&] {
                return !window.session().isBusy() && QApplication::activeModalWidget() == nullptr;
            },
            kLineWaitMs + 10000);
        if (!opened || !closed) {
            return QStringLiteral("(the dialog did not open and close)");
        }
        return seen;
    }

private slots:
    void initTestCase() {
        std::string reason;
        if (!LabEnvironment::load(m_lab, reason)) {
            std::fprintf(stderr, "SKIP: %s\n", reason.c_str());
            std::exit(77);
        }
        QVERIFY(m_folder.isValid());
        setMessageHandler([](const QString&, MessageStyle) { return MessageAnswer::ok; });
    }
    void cleanupTestCase() { setMessageHandler({}); }

    void lineSaysWhatArrives() {
        std::string error;
        QVERIFY2(m_modsim.start(m_lab, m_lab.segments[0], {"--streams", "on"},
                                "mac=02:00:00:00:09:01 ip=" + module(1) +
                                    " mode=3 protocol=1 port=5004 dest=239.77.9.1\n"
                                    "mac=02:00:00:00:09:02 ip=" +
                                    module(2) +
                                    " mode=3 protocol=2 port=5006 dest=239.77.9.2"
                                    " stream-fault=stuffing\n",
                                error),
                 error.c_str());
        SettingsFile settings(m_folder.filePath(QStringLiteral("control.ini")).toStdString());
        settings.writeInt("Layout", "Language", 0);
        DeviceList list;
        for (int n : {1, 2}) {
            DeviceRecord record = DeviceRecord::newRecord();
            record.ipAddress = lab::ipv4Of(module(n));
            record.macAddress = "02:00:00:00:09:0" + std::to_string(n);
            list.push_back(record);
        }
        QVERIFY(saveDeviceList(settings, list));
        CDlgMain window(settings, DeviceOperations{},
                        [](std::vector<LocalAddress>& found) { return listLocalAddresses(found); });
        installMainWindowCommands(window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        struct Row {
            const char* name;
            std::function<bool(QString)> wanted;
        };
        const Row rows[] = {
            {"a clean stream",
             [](const QString& text) {
                 return text.startsWith(QStringLiteral("Arriving here: 2.0 Mbit/s (")) &&
                        text.endsWith(QStringLiteral(" without stuffing), no errors"));
             }},
            {"only null packets",
             [](const QString& text) {
                 return text ==
                        QStringLiteral("Only stuffing: the module's input carries no programme");
             }},
        };
        int row = 0;
        for (const Row& expected : rows) {
            const QString text = streamLineOf(window, row++, expected.wanted);
            qInfo("%s: %s", expected.name, qPrintable(text));
            QVERIFY2(expected.wanted(text),
                     qPrintable(
                         QStringLiteral("%1: \"%2\"").arg(QLatin1String(expected.name)).arg(text)));
        }
    }
};

QTEST_MAIN(IpOutStreamLabTest)
#include "ip_out_stream_lab_test.moc"
