// The site session's one sweep routine and its local-address choice, on a scripted sweep:
// the test decides what each module answers and when the sweep may end, so nothing
// waits for a clock.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <future>
#include <memory>

#include "app/settings_file.h"
#include "devices/device_list_storage.h"
#include "reports/address_formats.h"
#include "scripted_sweep.h"
#include "ui/site_session.h"

using namespace corvane;
using corvane::testing::ScriptedSweep;

namespace {

Ipv4Address ip(int last) {
    return Ipv4Address::fromOctets(10, 77, 1, static_cast<std::uint8_t>(last));
}

}  // namespace

class SiteSessionTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    std::unique_ptr<SettingsFile> m_settings;
    ScriptedSweep m_sweep;

    std::unique_ptr<SiteSession> openSession(int devices) {
        DeviceList list;
        for (int i = 0; i < devices; ++i) {
            DeviceRecord record = DeviceRecord::newRecord();
            record.ipAddress = ip(10 + i);
            list.push_back(record);
        }
        if (!saveDeviceList(*m_settings, list)) {
            qFatal("the device list could not be saved");
        }
        DeviceOperations operations;
        operations.sweepStatus = m_sweep.operation();
        operations.backgroundSweep = m_sweep.operation();
        auto session = std::make_unique<SiteSession>(*m_settings, operations);
        session->openLocalAddresses([](std::vector<LocalAddress>& list) {
            list = {{Ipv4Address::fromOctets(10, 77, 0, 1), Ipv4Address::fromOctets(255, 255, 0, 0),
                     0}};
            return true;
        });
        return session;
    }

private slots:
    void init() {
        const QString path = m_folder.filePath(QStringLiteral("corvane-control.ini"));
        QFile::remove(path);
        m_settings = std::make_unique<SettingsFile>(path.toStdString());
        m_sweep = {};
    }

    // Check, Check All and Watch are the same routine: each reading lands in its row's
    // record and is announced, whichever way the sweep was started.
    void everyModeStoresEachReading_data() {
        QTest::addColumn<bool>("background");
        QTest::addColumn<bool>("onlyOneRow");
        QTest::newRow("Check All") << false << false;
        QTest::newRow("Watch") << true << false;
        QTest::newRow("Check") << false << true;
    }
    void everyModeStoresEachReading() {
        QFETCH(bool, background);
        QFETCH(bool, onlyOneRow);
        m_sweep.answering = {{ip(10), 1234}, {ip(12), 1236}};
        auto session = openSession(3);
        QSignalSpy read(session.get(), &SiteSession::rowRead);
        bool ended = false;
        std::vector<std::pair<int, bool>> readings;
        if (onlyOneRow) {
            session->checkRow(2, [&](bool answered) {
                readings.emplace_back(2, answered);
                ended = true;
            });
        } else {
            SiteSession::SweepCall call;
            call.rows = {0, 1, 2};
            call.mode =
                background ? SiteSession::SweepMode::background : SiteSession::SweepMode::command;
            call.onReading = [&](int row, bool answered) { readings.emplace_back(row, answered); };
            call.onEnd = [&] { ended = true; };
            session->sweep(std::move(call));
            QCOMPARE(session->isBusy(), !background);
            QCOMPARE(session->sweeping(), background);
        }
        QTRY_VERIFY(ended);
        QVERIFY(!session->isBusy() && !session->sweeping());
        QVERIFY(m_sweep.allAtOnce);
        QCOMPARE(m_sweep.asked.size(), onlyOneRow ? std::size_t{1} : std::size_t{3});
        const std::vector<std::pair<int, bool>> expected =
            onlyOneRow ? std::vector<std::pair<int, bool>>{{2, true}}
                       : std::vector<std::pair<int, bool>>{{0, true}, {1, false}, {2, true}};
        QCOMPARE(readings, expected);
        QCOMPARE(read.count(), static_cast<int>(expected.size()));
        const DeviceList& devices = session->devices();
        QCOMPARE(devices[2].liveStatus.destinationPort, std::uint16_t{1236});
        QVERIFY(devices[2].responded);
        QCOMPARE(devices[1].queried, !onlyOneRow);
        QVERIFY(!devices[1].responded);
    }

    // A reading for a row that no longer holds the address read is about nothing shown.
    void readingForAChangedRowIsDropped() {
        m_sweep.answering = {{ip(11), 1235}};  // 10.77.1.12 is silent
        const auto gate = std::make_shared<std::promise<void>>();
        m_sweep.gate = gate;
        auto session = openSession(3);
        bool ended = false;
        SiteSession::SweepCall call;
        call.rows = {2, 1};  // the reading of row 1 (10.77.1.11) is held back
        call.mode = SiteSession::SweepMode::background;
        call.onEnd = [&] { ended = true; };
        session->sweep(std::move(call));
        QTRY_VERIFY(session->devices()[2].queried);
        session->removeDevice(0);  // row 1 now holds 10.77.1.12
        gate->set_value();
        QTRY_VERIFY(ended);
        QCOMPARE(session->devices()[1].ipAddress, ip(12));
        QVERIFY(session->devices()[1].queried && !session->devices()[1].responded);
        QVERIFY(!session->devices()[0].queried);
    }

    // Abandoned: nothing more is stored; a command started meanwhile waits for the end of
    // the sweep and then runs.
    void abandonedSweepStoresNothingAndTheDeferredCommandRuns() {
        m_sweep.answering = {{ip(10), 1234}};
        const auto gate = std::make_shared<std::promise<void>>();
        m_sweep.gate = gate;
        auto session = openSession(1);
        SiteSession::SweepCall call;
        call.rows = {0};
        call.mode = SiteSession::SweepMode::background;
        const auto stop = call.stop;
        session->sweep(std::move(call));
        int commands = 0;
        QVERIFY(session->deferWhileSweeping([&] { ++commands; }));
        QVERIFY(session->deferWhileSweeping([&] { commands += 10; }));  // replaces the first
        QVERIFY(session->hasDeferredCommand());
        *stop = true;
        gate->set_value();
        QTRY_COMPARE(commands, 10);
        QVERIFY(!session->sweeping() && !session->hasDeferredCommand());
        QVERIFY(!session->devices()[0].queried);
        QVERIFY(!session->deferWhileSweeping([&] { ++commands; }));  // nothing to wait for
    }

    // The window's address: the stored one, else the first, which is then stored; with
    // none, nothing is chosen and nothing written.
    void localAddressChoice_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("listed");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("storedAfter");
        QTest::newRow("stored, second") << 2 << 3 << 1 << 2;
        QTest::newRow("none stored") << 0 << 3 << 0 << 1;
        QTest::newRow("stale stored") << 9 << 2 << 0 << 1;
        QTest::newRow("no address") << 2 << 0 << -1 << 2;
    }
    void localAddressChoice() {
        QFETCH(int, stored);
        QFETCH(int, listed);
        QFETCH(int, index);
        QFETCH(int, storedAfter);
        const auto local = [](int n) {
            return n == 0 ? Ipv4Address() : Ipv4Address::fromOctets(10, 77, 0, n);
        };
        if (stored != 0) {
            m_settings->writeInt("Config", "LocalIP", local(stored).settingsInteger());
        }
        SiteSession session(*m_settings, DeviceOperations{});
        const bool any = session.openLocalAddresses([&](std::vector<LocalAddress>& list) {
            list.clear();
            for (int n = 1; n <= listed; ++n) {
                list.push_back({local(n), Ipv4Address::fromOctets(255, 255, 0, 0), 0});
            }
            return listed > 0;
        });
        QCOMPARE(any, listed > 0);
        QCOMPARE(session.selectedLocalIndex(), index);
        QCOMPARE(Ipv4Address::fromSettingsInteger(m_settings->readInt("Config", "LocalIP", 0)),
                 local(storedAfter));
    }
};

QTEST_MAIN(SiteSessionTest)
#include "site_session_test.moc"
