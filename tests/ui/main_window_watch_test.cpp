// Watch on a scripted clock and a scripted sweep: when it sweeps, what it tells the
// operator and when it stays quiet, without waiting for its period to pass.
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <memory>

#include "app/settings_file.h"
#include "devices/device_list_storage.h"
#include "reports/address_formats.h"
#include "scripted_sweep.h"
#include "ui/main_window_watch.h"
#include "ui/site_session.h"

using namespace corvane;
using corvane::testing::ScriptedSweep;

namespace {

Ipv4Address ip(int n) {
    return Ipv4Address::fromOctets(10, 77, 1, static_cast<std::uint8_t>(n));
}

// Ticks only when the test says so.
struct ScriptedTicker : WatchTicker {
    int* periodMs;
    std::function<void()>* tick;
    ScriptedTicker(int* period, std::function<void()>* ticked) : periodMs(period), tick(ticked) {}
    void start(int period, std::function<void()> ticked) override {
        *periodMs = period;
        *tick = std::move(ticked);
    }
    void stop() override {
        *periodMs = 0;
        *tick = nullptr;
    }
};

}  // namespace

class MainWindowWatchTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    std::unique_ptr<SettingsFile> m_settings;
    ScriptedSweep m_sweep;
    int m_periodMs = 0;
    std::function<void()> m_tick;
    QStringList m_told;
    std::unique_ptr<QWidget> m_view;
    SiteSession* m_session = nullptr;
    MainWindowWatch* m_watch = nullptr;

    void open(int modules) {
        DeviceList list;
        for (int n = 1; n <= modules; ++n) {
            DeviceRecord record = DeviceRecord::newRecord();
            record.ipAddress = ip(n);
            record.macAddress = "02:00:00:00:00:0" + std::to_string(n);
            list.push_back(record);
        }
        QVERIFY(saveDeviceList(*m_settings, list));
        DeviceOperations operations;
        operations.backgroundSweep = m_sweep.operation();
        m_view = std::make_unique<QWidget>();
        m_session = new SiteSession(*m_settings, operations, m_view.get());
        m_session->openLocalAddresses([](std::vector<LocalAddress>& list) {
            list = {{Ipv4Address::fromOctets(10, 77, 0, 1), Ipv4Address::fromOctets(255, 255, 0, 0),
                     0}};
            return true;
        });
        m_watch = new MainWindowWatch(*m_session, *m_view,
                                      std::make_unique<ScriptedTicker>(&m_periodMs, &m_tick),
                                      [this](const QString& summary, const QString& body) {
                                          m_told << summary + ": " + body;
                                      });
    }
    // One tick of the clock, and the sweep it started run to its end.
    void tick() {
        QVERIFY(m_tick);
        const int before = m_sweep.sweeps;
        m_tick();
        QTRY_VERIFY(!m_session->sweeping());
        QCOMPARE(m_sweep.sweeps, before + 1);
    }

private slots:
    void init() {
        const QString path = m_folder.filePath(QStringLiteral("corvane-control.ini"));
        QFile::remove(path);
        m_settings = std::make_unique<SettingsFile>(path.toStdString());
        m_settings->writeInt("Config", "WatchSeconds", 2);
        m_sweep = {};
        m_told.clear();
        m_tick = nullptr;
    }
    void cleanup() { m_view.reset(); }

    // Ticked: a sweep at once, then one per period; each module's change is told once,
    // however many sweeps it lasts.
    void changesAreToldOnce() {
        m_sweep.answering = {{ip(1), 1234}, {ip(2), 0}, {ip(3), 1236}};
        open(3);
        m_watch->setActive(true);
        QCOMPARE(m_periodMs, 2000);
        QTRY_VERIFY(!m_session->sweeping());
        QCOMPARE(m_sweep.sweeps, 1);
        QVERIFY(m_told.isEmpty());  // the first sight of each module is no change

        struct Step {
            std::map<Ipv4Address, std::uint16_t> answering;
            QStringList told;
        };
        const QString prefix = QStringLiteral("Corvane Control: Module ");
        const Step steps[] = {
            {{{ip(1), 1234}, {ip(2), 0}},
             {prefix + "3 (02:00:00:00:00:03, 10.77.1.3) does not answer."}},
            {{{ip(1), 1234}, {ip(2), 0}}, {}},
            {{{ip(1), 1234}, {ip(2), 0}}, {}},
            {{{ip(1), 0}, {ip(2), 0}, {ip(3), 1236}},
             {prefix + "1 (02:00:00:00:00:01, 10.77.1.1): the IP output stopped.",
              prefix + "3 (02:00:00:00:00:03, 10.77.1.3) answers again."}},
            {{{ip(1), 0}, {ip(2), 0}, {ip(3), 1236}}, {}},
        };
        for (const Step& step : steps) {
            m_told.clear();
            m_sweep.answering = step.answering;
            tick();
            QCOMPARE(m_told, step.told);
        }
        QCOMPARE(m_session->devices()[0].liveStatus.destinationPort, std::uint16_t{0});
        QVERIFY(m_session->devices()[2].responded);
    }

    // Unticked: the clock is stopped, a sweep in flight is dropped, and nothing more is
    // read however long the window stays open.
    void untickedReadsNothing() {
        m_sweep.answering = {{ip(1), 1234}};
        const auto gate = std::make_shared<std::promise<void>>();
        m_sweep.gate = gate;
        open(1);
        m_watch->setActive(true);
        QVERIFY(m_session->sweeping());
        m_watch->setActive(false);
        QCOMPARE(m_periodMs, 0);
        QVERIFY(!m_tick);
        gate->set_value();
        QTRY_VERIFY(!m_session->sweeping());
        QVERIFY(!m_session->devices()[0].queried);  // the dropped sweep's reading
        QCOMPARE(m_sweep.sweeps, 1);
    }

    // No sweep while a command runs: the next tick tries again.
    void noSweepWhileACommandRuns() {
        open(1);
        auto release = std::make_shared<std::promise<void>>();
        auto released = release->get_future().share();
        bool done = false;
        m_session->runBusy([released] { released.wait(); }, [&done] { done = true; });
        m_watch->setActive(true);
        QVERIFY(!m_session->sweeping());
        m_tick();
        QVERIFY(!m_session->sweeping());
        release->set_value();
        QTRY_VERIFY(done);
        QCOMPARE(m_sweep.sweeps, 0);
        tick();
    }

    // "Config"/"WatchSeconds" sets the period: both edges of 2..3600, else 10 s.
    void periodFromTheSettings() {
        const std::pair<const char*, int> rows[] = {{"2", 2000},       {"1", 10000},
                                                    {"3600", 3600000}, {"3601", 10000},
                                                    {"", 10000},       {"abc", 10000}};
        open(0);
        for (const auto& [stored, periodMs] : rows) {
            m_settings->writeString("Config", "WatchSeconds", stored);
            m_watch->setActive(true);
            QCOMPARE(m_periodMs, periodMs);
            m_watch->setActive(false);
        }
    }
};

QTEST_MAIN(MainWindowWatchTest)
#include "main_window_watch_test.moc"
