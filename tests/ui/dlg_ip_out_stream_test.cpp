// The IP output dialog's stream line, clicked as a person does: it shows, and its
// measurement runs, only while the dialog shows a running output; Stop and closing the
// dialog end the measurement. The measurement is scripted (no socket) and the test sets
// the time of each refresh.
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <memory>
#include <optional>
#include <vector>

#include "app/string_tables.h"
#include "ui/dlg_ip_out.h"
#include "ui/message_box.h"
#include "ui/window_input.h"

using namespace corvane;
using corvane::testing::personClick;
using corvane::testing::personKey;

namespace {

constexpr LocalAddress kAdapter{Ipv4Address::fromOctets(10, 0, 0, 1),
                                Ipv4Address::fromOctets(255, 255, 255, 0), 0};
constexpr Ipv4Address kModuleIp = Ipv4Address::fromOctets(10, 0, 0, 50);
constexpr Ipv4Address kGroup = Ipv4Address::fromOctets(239, 1, 2, 3);
constexpr Ipv4Address kElsewhere = Ipv4Address::fromOctets(10, 0, 0, 99);

// What the dialog asked to measure, and how many measurements are open.
struct Opened {
    StreamDestination destination;
    StreamReceiveOptions options;
};
struct SourceLog {
    std::vector<Opened> opened;
    int open = 0;
    std::uint64_t packets = 0;  // what every source has received so far
};

class ScriptedSource : public StreamSource {
public:
    explicit ScriptedSource(SourceLog& log) : m_log(log) { ++m_log.open; }
    ~ScriptedSource() override { --m_log.open; }
    int fd() const override { return -1; }
    bool pump(const std::function<StreamTime()>&, std::string&) override { return true; }
    StreamSnapshot snapshot(StreamTime) const override {
        StreamSnapshot snapshot;
        snapshot.arrived = m_log.packets > 0;
        snapshot.packets = m_log.packets;
        snapshot.sinceLastDatagramMs = 3;
        return snapshot;
    }

private:
    SourceLog& m_log;
};

}  // namespace

class DlgIpOutStreamTest : public QObject {
    Q_OBJECT

    SourceLog m_log;
    StreamTime m_now{};

    std::unique_ptr<CDlgIpOut> makeDialog(Ipv4Address destination, int running, int port = 1234) {
        DeviceOperations operations;
        operations.setStreamSettings = [](const LocalAddress&, Ipv4Address, const StreamSettings&) {
            return true;
        };
        auto dialog = std::make_unique<CDlgIpOut>(nullptr, operations);
        dialog->streamSource = [this](const StreamDestination& where,
                                      const StreamReceiveOptions& options, StreamTime,
                                      std::string&) -> std::unique_ptr<StreamSource> {
            m_log.opened.push_back({where, options});
            return std::make_unique<ScriptedSource>(m_log);
        };
        dialog->streamClock = [this] { return m_now; };
        dialog->moduleIp = kModuleIp;
        dialog->localAdapter = kAdapter;
        dialog->destinationIp = destination;
        dialog->destinationPort = port;
        dialog->protocol = 1;
        dialog->running = running;
        dialog->show();
        dialog->activateWindow();
        if (!QTest::qWaitForWindowActive(dialog.get())) {
            return nullptr;
        }
        return dialog;
    }
    static CStreamReadoutLine* line(const CDlgIpOut& dialog) {
        return dialog.findChild<CStreamReadoutLine*>(QStringLiteral("streamReadout"));
    }
    static QPushButton* button(const CDlgIpOut& dialog, const char* name) {
        return dialog.findChild<QPushButton*>(QLatin1String(name));
    }
    // One second of 1000 packets, then the line's refresh.
    void nextSecond(CDlgIpOut& dialog) {
        m_log.packets += 1000;
        m_now += std::chrono::seconds(1);
        line(dialog)->refresh(m_now);
    }

private slots:
    void init() {
        setUseRussian(false);
        m_log = SourceLog{};
        setMessageHandler([](const QString&, MessageStyle) { return MessageAnswer::ok; });
    }
    void cleanup() { setMessageHandler({}); }

    void lineOnlyWhileRunning() {
        auto dialog = makeDialog(kGroup, 0);
        QVERIFY(dialog != nullptr);
        const int stoppedHeight = dialog->height();
        QVERIFY(!line(*dialog)->isVisible());
        QCOMPARE(m_log.opened.size(), std::size_t{0});

        personClick(button(*dialog, "start"));
        QCOMPARE(dialog->running, 1);
        QCOMPARE(m_log.opened.size(), std::size_t{1});
        QCOMPARE(m_log.open, 1);
        const Opened& opened = m_log.opened[0];
        QCOMPARE(opened.destination.text(), std::string("239.1.2.3:1234"));
        QCOMPARE(opened.options.localAddress, kAdapter.address);
        QCOMPARE(opened.options.expectedSource, kModuleIp);
        QVERIFY(opened.options.measurement.protocol == StreamProtocol::rtp);
        QVERIFY(line(*dialog)->isVisible());
        QVERIFY(dialog->height() > stoppedHeight);
        QVERIFY(dialog->rect().contains(line(*dialog)->geometry()));
        QCOMPARE(line(*dialog)->text(), QStringLiteral("Nothing arrives at this computer"));
        nextSecond(*dialog);
        nextSecond(*dialog);
        QCOMPARE(line(*dialog)->text(),
                 QStringLiteral("Arriving here: 1.5 Mbit/s (1.5 without stuffing), no errors"));

        personClick(button(*dialog, "stop"));
        QCOMPARE(dialog->running, 0);
        QCOMPARE(m_log.open, 0);
        QVERIFY(!line(*dialog)->isVisible());
        QCOMPARE(dialog->height(), stoppedHeight);
    }

    void closingEndsTheMeasurement() {
        auto dialog = makeDialog(kGroup, 1);
        QVERIFY(dialog != nullptr);
        QCOMPARE(m_log.open, 1);
        QVERIFY(line(*dialog)->isVisible());
        personKey(dialog.get(), Qt::Key_Escape);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(m_log.open, 0);
        // Shown again, it measures afresh.
        dialog->show();
        QCOMPARE(m_log.open, 1);
        QCOMPARE(m_log.opened.size(), std::size_t{2});
    }

    void destinations() {
        // To another computer: nothing can arrive here, and no port is bound.
        auto elsewhere = makeDialog(kElsewhere, 1);
        QVERIFY(elsewhere != nullptr);
        QVERIFY(line(*elsewhere)->isVisible());
        QCOMPARE(line(*elsewhere)->text(), QStringLiteral("Nothing arrives at this computer"));
        QCOMPARE(m_log.opened.size(), std::size_t{0});
        elsewhere.reset();
        // To this computer's address: its port is measured.
        auto here = makeDialog(kAdapter.address, 1);
        QVERIFY(here != nullptr);
        QCOMPARE(m_log.opened.size(), std::size_t{1});
        QCOMPARE(m_log.opened[0].destination.text(), std::string("10.0.0.1:1234"));
        here.reset();
        // A port no module sends to (a status read can say 0): nothing is bound or shown.
        auto noPort = makeDialog(kGroup, 1, 0);
        QVERIFY(noPort != nullptr);
        QVERIFY(!line(*noPort)->isVisible());
        QCOMPARE(m_log.opened.size(), std::size_t{1});
    }
};

QTEST_MAIN(DlgIpOutStreamTest)
#include "dlg_ip_out_stream_test.moc"
