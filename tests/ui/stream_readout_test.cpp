// The IP output dialog's stream line as text: the figures a second's snapshots give
// (bitrates of the last second, errors of the last ten), and the four forms of the line
// in both languages with their number formatting.
#include <QtTest>
#include <string>
#include <vector>

#include "app/string_tables.h"
#include "ui/stream_readout.h"

using namespace corvane;

namespace {

constexpr double kBitsPerPacket = 188.0 * 8.0;

// The cumulative counters of a measurement at one second.
struct Second {
    std::uint64_t packets = 0;
    std::uint64_t nullPackets = 0;
    std::uint64_t continuity = 0;
    std::uint64_t patErrors = 0;
    std::uint64_t rtpLost = 0;
    double sinceLastMs = 5;
};

StreamSnapshot snapshotOf(const Second& second) {
    StreamSnapshot snapshot;
    snapshot.arrived = second.packets > 0;
    snapshot.packets = second.packets;
    snapshot.pids = {{0x100, second.packets - second.nullPackets, 0, 0},
                     {0x1FFF, second.nullPackets, 0, 0}};
    snapshot.errors.continuityCountError = second.continuity;
    snapshot.errors.patError = second.patErrors;
    snapshot.rtpLost = second.rtpLost;
    if (snapshot.arrived) {
        snapshot.sinceLastDatagramMs = second.sinceLastMs;
    }
    // Over the whole measurement, as the first second's figure.
    snapshot.bitrate = 1e6;
    snapshot.netBitrate = 0.5e6;
    snapshot.onlyStuffing = snapshot.arrived && second.packets == second.nullPackets;
    return snapshot;
}

StreamReadoutFigures figuresAfter(const std::vector<Second>& seconds) {
    StreamReadout readout;
    StreamTime at{};
    for (const Second& second : seconds) {
        at += std::chrono::seconds(1);
        readout.add(snapshotOf(second), at);
    }
    return readout.figures();
}

// Twelve seconds of 1000 packets each, 100 of them null; `errorAt` seconds (1-based)
// each bring one continuity error, and second 1 brings three.
std::vector<Second> steadySeconds(int count, const std::vector<int>& errorAt) {
    std::vector<Second> seconds;
    Second running;
    for (int n = 1; n <= count; ++n) {
        running.packets += 1000;
        running.nullPackets += 100;
        for (int e : errorAt) {
            running.continuity += e == n ? (n == 1 ? 3 : 1) : 0;
        }
        seconds.push_back(running);
    }
    return seconds;
}

}  // namespace

class StreamReadoutTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { setUseRussian(false); }

    void figures() {
        struct Row {
            const char* name;
            std::vector<Second> seconds;
            StreamReadoutKind kind;
            double bitrate;
            double netBitrate;
            std::uint64_t continuity;
            std::uint64_t other;
        };
        std::vector<Second> stopped = steadySeconds(3, {});
        stopped.push_back(stopped.back());
        stopped.back().sinceLastMs = 2500;
        std::vector<Second> emptied = steadySeconds(3, {});
        emptied.push_back(emptied.back());
        emptied.back().packets += 500;
        emptied.back().nullPackets += 500;
        std::vector<Second> mixed = steadySeconds(2, {});
        mixed.back().patErrors = 1;
        mixed.back().rtpLost = 4;
        mixed.back().continuity = 2;
        const std::vector<Row> rows = {
            {"nothing yet", {Second{}}, StreamReadoutKind::nothing, 0, 0, 0, 0},
            {"first second: the measurement's own rates", steadySeconds(1, {}),
             StreamReadoutKind::arriving, 1e6, 0.5e6, 0, 0},
            {"the last second's rates", steadySeconds(2, {}), StreamReadoutKind::arriving,
             1000 * kBitsPerPacket, 900 * kBitsPerPacket, 0, 0},
            {"errors of the first ten seconds", steadySeconds(10, {1, 10}),
             StreamReadoutKind::arriving, 1000 * kBitsPerPacket, 900 * kBitsPerPacket, 4, 0},
            {"errors older than ten seconds leave the window", steadySeconds(12, {1, 11}),
             StreamReadoutKind::arriving, 1000 * kBitsPerPacket, 900 * kBitsPerPacket, 1, 0},
            {"other errors and RTP losses", mixed, StreamReadoutKind::arriving,
             1000 * kBitsPerPacket, 900 * kBitsPerPacket, 2, 5},
            {"quiet for 2.5 s", stopped, StreamReadoutKind::nothing, 0, 0, 0, 0},
            {"the last second only null packets", emptied, StreamReadoutKind::onlyStuffing,
             500 * kBitsPerPacket, 0, 0, 0},
        };
        for (const Row& row : rows) {
            const StreamReadoutFigures got = figuresAfter(row.seconds);
            QVERIFY2(got.kind == row.kind, row.name);
            QVERIFY2(qFuzzyCompare(1 + got.bitrate, 1 + row.bitrate), row.name);
            QVERIFY2(qFuzzyCompare(1 + got.netBitrate, 1 + row.netBitrate), row.name);
            QVERIFY2(got.continuityErrors == row.continuity, row.name);
            QVERIFY2(got.otherErrors == row.other, row.name);
        }
    }

    void texts() {
        struct Row {
            StreamReadoutFigures figures;
            const char* english;
            const char* russian;
        };
        const auto arriving = [](double rate, double net, std::uint64_t cc, std::uint64_t other) {
            return StreamReadoutFigures{StreamReadoutKind::arriving, rate, net, cc, other};
        };
        const std::vector<Row> rows = {
            {arriving(38.24e6, 36.86e6, 0, 0),
             "Arriving here: 38.2 Mbit/s (36.9 without stuffing), no errors",
             "Поступает сюда: 38,2 Мбит/с (36,9 без стаффинга), ошибок нет"},
            {arriving(2e6, 0.354e6, 3, 0),
             "Arriving here: 2.0 Mbit/s (0.35 without stuffing), 3 continuity errors in the "
             "last 10 s",
             "Поступает сюда: 2,0 Мбит/с (0,35 без стаффинга), ошибок непрерывности за "
             "последние 10 с: 3"},
            {arriving(1234.4e6, 999.96e6, 1, 0),
             "Arriving here: 1234 Mbit/s (1000 without stuffing), 1 continuity error in the "
             "last 10 s",
             "Поступает сюда: 1234 Мбит/с (1000 без стаффинга), ошибок непрерывности за "
             "последние 10 с: 1"},
            {arriving(2e6, 2e6, 10, 2),
             "Arriving here: 2.0 Mbit/s (2.0 without stuffing), 12 errors in the last 10 s",
             "Поступает сюда: 2,0 Мбит/с (2,0 без стаффинга), ошибок за последние 10 с: 12"},
            {arriving(0.9996e6, 0.001e6, 0, 1),
             "Arriving here: 1.0 Mbit/s (0.00 without stuffing), 1 error in the last 10 s",
             "Поступает сюда: 1,0 Мбит/с (0,00 без стаффинга), ошибок за последние 10 с: 1"},
            {{StreamReadoutKind::onlyStuffing, 2e6, 0, 5, 1},
             "Only stuffing: the module's input carries no programme",
             "Только стаффинг: на входе модуля нет программы"},
            {{StreamReadoutKind::nothing, 0, 0, 0, 0},
             "Nothing arrives at this computer",
             "На этот компьютер ничего не поступает"},
        };
        for (const Row& row : rows) {
            setUseRussian(false);
            QCOMPARE(streamReadoutText(row.figures), std::string(row.english));
            setUseRussian(true);
            QCOMPARE(streamReadoutText(row.figures), std::string(row.russian));
        }
    }
};

QTEST_GUILESS_MAIN(StreamReadoutTest)
#include "stream_readout_test.moc"
