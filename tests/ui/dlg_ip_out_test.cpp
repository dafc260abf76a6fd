// The IP output dialog driven with real keys and clicks, against a fake network that
// records every settings record sent; the records are checked as the 30 bytes that go on
// the wire.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <cstring>
#include <memory>
#include <vector>

#include "app/string_tables.h"
#include "devices/device_record.h"
#include "net/protocol_messages.h"
#include "packed_value.h"
#include "ui/dlg_ip_out.h"
#include "ui/filter_edit.h"
#include "ui/ip_address_edit.h"
#include "ui/ip_output_command.h"
#include "ui/message_box.h"

using namespace corvane;

Q_DECLARE_METATYPE(corvane::StreamSettings)

namespace {

constexpr LocalAddress kAdapter{Ipv4Address::fromOctets(10, 0, 0, 1),
                                Ipv4Address::fromOctets(255, 255, 255, 0), 0};
constexpr Ipv4Address kModuleIp = Ipv4Address::fromOctets(10, 0, 0, 50);

// Network order, as the packed records hold an address.
std::uint32_t ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b) << 8 |
           static_cast<std::uint32_t>(c) << 16 | static_cast<std::uint32_t>(d) << 24;
}

// "TiBbaSiC" followed by the 22 bytes given in hex (blanks allowed).
QByteArray settingsRequest(const char* bodyHex) {
    return QByteArray("TiBbaSiC") + QByteArray::fromHex(bodyHex);
}

QByteArray wireBytes(const StreamSettings& settings) {
    const SettingsRequest request = buildSettingsRequest(settings);
    return QByteArray(reinterpret_cast<const char*>(request.data()),
                      static_cast<int>(request.size()));
}

bool sameBytes(const StreamSettings& a, const StreamSettings& b) {
    return std::memcmp(&a, &b, sizeof(StreamSettings)) == 0;
}

// True when nothing but the fields Start writes is set: the record is in the single form.
bool onlyStartFieldsSet(StreamSettings settings) {
    settings.mode = 0;
    settings.protocol = 0;
    settings.destinationIp = 0;
    settings.destinationPort = 0;
    settings.flags = 0;
    return sameBytes(settings, StreamSettings{});
}

OutputEntry outputEntry(std::uint16_t control) {
    OutputEntry entry;
    entry.control = control;
    return entry;
}

StreamSettings singleForm(std::uint8_t mode, std::uint8_t protocol, std::uint32_t address,
                          std::uint16_t port, std::uint8_t flags) {
    StreamSettings settings;
    settings.mode = mode;
    settings.protocol = protocol;
    settings.destinationIp = address;
    settings.destinationPort = port;
    settings.flags = flags;
    return settings;
}

template <class T>
T* control(const QObject* dialog, const char* name) {
    T* widget = dialog->findChild<T*>(QLatin1String(name));
    if (widget == nullptr) {
        qFatal("the dialog has no control named %s", name);
    }
    return widget;
}

QString addressText(const CDlgIpOut& dialog) {
    QStringList octets;
    for (int i = 0; i < CIpAddressEdit::kParts; ++i) {
        octets << control<QLineEdit>(&dialog, qPrintable(QStringLiteral("octet%1").arg(i)))->text();
    }
    return octets.join(QLatin1Char('.'));
}

// Replaces a line edit's text with keys: select all, delete, type.
// A check box toggles when its box or caption is clicked, not the empty space beside them.
void clickCheckBox(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(4, box->height() / 2));
}

void retype(QLineEdit* edit, const QString& text) {
    edit->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

// The stream line opens no socket here: what it shows is tested in its own file.
std::unique_ptr<StreamSource> noStreamSocket(const StreamDestination&, const StreamReceiveOptions&,
                                             StreamTime, std::string& error) {
    error = "no sockets in this test";
    return nullptr;
}

struct SentRecord {
    LocalAddress from;
    Ipv4Address module;
    StreamSettings settings;
};

}  // namespace

class DlgIpOutTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void layoutAndTexts_data();
    void layoutAndTexts();
    void startSendsSettings_data();
    void startSendsSettings();
    void startTakesTypedValues();
    void stopSendsZeros();
    void failedSendKeepsState();
    void startRefused_data();
    void startRefused();
    void openingFromRecord_data();
    void openingFromRecord();
    void closingAsCancel_data();
    void closingAsCancel();
    void enterOnFieldAccepts_data();
    void enterOnFieldAccepts();
    void enterOnButtonPresses_data();
    void enterOnButtonPresses();
    void storeIntoRecord_data();
    void storeIntoRecord();
    void refusedStartValuesAreSaved();

private:
    DeviceOperations fakeOperations();
    std::unique_ptr<CDlgIpOut> openDialog(std::uint32_t destination, int port, int protocol,
                                          int noStuffing, int running);
    bool showAndActivate(CDlgIpOut& dialog);
    void checkEnableRule(const CDlgIpOut& dialog, bool running);

    std::vector<SentRecord> m_sent;
    bool m_sendSucceeds = true;
    int m_otherOperations = 0;
    QStringList m_messages;
    QList<MessageStyle> m_messageStyles;
};

void DlgIpOutTest::initTestCase() {
    setMessageHandler([this](const QString& text, MessageStyle style) {
        m_messages << text;
        m_messageStyles << style;
        return MessageAnswer::ok;
    });
}

void DlgIpOutTest::init() {
    setUseRussian(false);
    m_sent.clear();
    m_sendSucceeds = true;
    m_otherOperations = 0;
    m_messages.clear();
    m_messageStyles.clear();
}

void DlgIpOutTest::cleanupTestCase() {
    setMessageHandler({});
}

// Every operation is faked: nothing here may reach a network.
DeviceOperations DlgIpOutTest::fakeOperations() {
    DeviceOperations operations;
    operations.setStreamSettings = [this](const LocalAddress& from, Ipv4Address module,
                                          const StreamSettings& settings) {
        m_sent.push_back({from, module, settings});
        return m_sendSucceeds;
    };
    operations.getStreamSettings = [this](const LocalAddress&, Ipv4Address, StreamSettings&) {
        ++m_otherOperations;
        return false;
    };
    operations.searchDevices = [this](const LocalAddress&, std::uint16_t,
                                      std::vector<DeviceHello>&) {
        ++m_otherOperations;
        return false;
    };
    operations.setNetworkSettings = [this](const LocalAddress&, const MacAddress&, Ipv4Address,
                                           Ipv4Address, Ipv4Address) {
        ++m_otherOperations;
        return false;
    };
    operations.getPassportData = [this](const LocalAddress&, Ipv4Address, PassportData&) {
        ++m_otherOperations;
        return false;
    };
    operations.sweepStatus = [this](const LocalAddress&, const std::vector<Ipv4Address>&,
                                    const SweepOptions&,
                                    const std::function<void(std::size_t, const StatusReading&)>&,
                                    const std::atomic<bool>*) {
        ++m_otherOperations;
        return std::size_t{0};
    };
    return operations;
}

std::unique_ptr<CDlgIpOut> DlgIpOutTest::openDialog(std::uint32_t destination, int port,
                                                    int protocol, int noStuffing, int running) {
    auto dialog = std::make_unique<CDlgIpOut>(nullptr, fakeOperations());
    dialog->streamSource = noStreamSocket;
    dialog->moduleIp = kModuleIp;
    dialog->localAdapter = kAdapter;
    dialog->destinationIp = Ipv4Address::fromNetworkOrder(destination);
    dialog->destinationPort = port;
    dialog->protocol = protocol;
    dialog->noStuffing = noStuffing;
    dialog->running = running;
    return dialog;
}

bool DlgIpOutTest::showAndActivate(CDlgIpOut& dialog) {
    dialog.show();
    dialog.activateWindow();
    return QTest::qWaitForWindowActive(&dialog);
}

void DlgIpOutTest::checkEnableRule(const CDlgIpOut& dialog, bool running) {
    for (const char* name : {"address", "port", "protocol", "noStuffing", "tos", "start"}) {
        QVERIFY2(control<QWidget>(&dialog, name)->isEnabled() == !running, name);
    }
    QCOMPARE(control<QPushButton>(&dialog, "stop")->isEnabled(), running);
}

void DlgIpOutTest::layoutAndTexts_data() {
    QTest::addColumn<bool>("russian");
    QTest::addColumn<QStringList>("texts");  // title, then controls in tab order
    QTest::newRow("English") << false
                             << QStringList{
                                    "IP output control", "Destination IP", "Port",  "Protocol",
                                    "ToS (HEX)",         "No stuffings",   "Start", "Stop"};
    QTest::newRow("Russian")
        << true
        << QStringList{"Управление IP выходом",   "Приемник", "Порт", "Протокол", "ToS (HEX)",
                       "Не передавать стаффинги", "Старт",    "Стоп"};
}

void DlgIpOutTest::layoutAndTexts() {
    QFETCH(bool, russian);
    QFETCH(QStringList, texts);
    setUseRussian(russian);
    auto dialog = openDialog(ip(224, 0, 0, 1), 1234, 1, 0, 0);
    QVERIFY(showAndActivate(*dialog));

    const QStringList shown = {dialog->windowTitle(),
                               control<QLabel>(dialog.get(), "addressCaption")->text(),
                               control<QLabel>(dialog.get(), "portCaption")->text(),
                               control<QLabel>(dialog.get(), "protocolCaption")->text(),
                               control<QLabel>(dialog.get(), "tosCaption")->text(),
                               control<QCheckBox>(dialog.get(), "noStuffing")->text(),
                               control<QPushButton>(dialog.get(), "start")->text(),
                               control<QPushButton>(dialog.get(), "stop")->text()};
    QCOMPARE(shown, texts);

    // The protocol names are the modules' own, never translated.
    auto* protocols = control<QComboBox>(dialog.get(), "protocol");
    QCOMPARE(protocols->count(), 3);
    QCOMPARE(protocols->itemText(0), QStringLiteral("RTP+"));
    QCOMPARE(protocols->itemText(1), QStringLiteral("RTP"));
    QCOMPARE(protocols->itemText(2), QStringLiteral("UDP"));
    QVERIFY(!protocols->isEditable());

    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    auto* port = control<CFilterEdit>(dialog.get(), "port");
    QVERIFY(port->alignment() & Qt::AlignRight);
    QVERIFY(control<QLineEdit>(dialog.get(), "tos")->alignment() & Qt::AlignRight);
    retype(port, QStringLiteral("1a2 -3+"));
    QCOMPARE(port->text(), QStringLiteral("123"));

    // The buttons sit side by side below the settings; captions left of their fields.
    auto* start = control<QPushButton>(dialog.get(), "start");
    auto* stop = control<QPushButton>(dialog.get(), "stop");
    QCOMPARE(start->y(), stop->y());
    QVERIFY(start->geometry().right() < stop->x());
    QVERIFY(control<QCheckBox>(dialog.get(), "noStuffing")->geometry().bottom() < start->y());
    QVERIFY(stop->geometry().right() < dialog->width());
    QVERIFY(start->geometry().bottom() < dialog->height());
    QVERIFY(control<QLabel>(dialog.get(), "portCaption")->geometry().right() < port->x());

    // The focus chain holds Start, Stop, address, port, protocol, ToS, "No stuffings".
    QStringList chain;
    for (QWidget* w = start->nextInFocusChain(); w != start; w = w->nextInFocusChain()) {
        if (w->parentWidget() == dialog.get() && (w->focusPolicy() & Qt::TabFocus) != 0) {
            chain << w->objectName();
        }
    }
    QCOMPARE(chain, (QStringList{"stop", "address", "port", "protocol", "tos", "noStuffing"}));

    // Tab walks it, passing over the disabled Stop, and wraps round to Start.
    start->setFocus(Qt::TabFocusReason);
    QStringList order{dialog->focusWidget()->objectName()};
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
        QWidget* focused = dialog->focusWidget();
        // The address field hands its focus to its first octet.
        if (focused->parentWidget() != dialog.get()) {
            focused = focused->parentWidget();
        }
        order << focused->objectName();
    }
    QCOMPARE(order,
             (QStringList{"start", "address", "port", "protocol", "tos", "noStuffing", "start"}));
}

void DlgIpOutTest::startSendsSettings_data() {
    QTest::addColumn<std::uint32_t>("destination");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("noStuffing");
    QTest::addColumn<int>("shownProtocol");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("UDP, no stuffings") << ip(224, 0, 0, 1) << 1234 << 2 << 1 << 2
                                       << settingsRequest(
                                              "02 03 04D2 E0000001 0010 "
                                              "000000000000000000000000");
    QTest::newRow("RTP+, highest port") << ip(239, 255, 1, 2) << 65535 << 0 << 0 << 0
                                        << settingsRequest(
                                               "00 03 FFFF EFFF0102 0000 "
                                               "000000000000000000000000");
    QTest::newRow("RTP, port 1") << ip(10, 0, 0, 200) << 1 << 1 << 0 << 1
                                 << settingsRequest(
                                        "01 03 0001 0A0000C8 0000 "
                                        "000000000000000000000000");
    QTest::newRow("stored protocol 7 sends 255")
        << ip(192, 168, 1, 200) << 5000 << 7 << 0 << -1
        << settingsRequest("FF 03 1388 C0A801C8 0000 000000000000000000000000");
    QTest::newRow("nothing selected sends 255")
        << ip(1, 2, 3, 4) << 5004 << -1 << 1 << -1
        << settingsRequest("FF 03 138C 01020304 0010 000000000000000000000000");
}

void DlgIpOutTest::startSendsSettings() {
    QFETCH(std::uint32_t, destination);
    QFETCH(int, port);
    QFETCH(int, protocol);
    QFETCH(int, noStuffing);
    QFETCH(int, shownProtocol);
    QFETCH(QByteArray, expected);

    auto dialog = openDialog(destination, port, protocol, noStuffing, 0);
    QVERIFY(showAndActivate(*dialog));
    QCOMPARE(control<QComboBox>(dialog.get(), "protocol")->currentIndex(), shownProtocol);
    checkEnableRule(*dialog, false);

    QTest::mouseClick(control<QPushButton>(dialog.get(), "start"), Qt::LeftButton);

    QCOMPARE(m_sent.size(), std::size_t{1});
    QCOMPARE(m_sent[0].from, kAdapter);
    QCOMPARE(m_sent[0].module, kModuleIp);
    QVERIFY(onlyStartFieldsSet(m_sent[0].settings));
    QCOMPARE(wireBytes(m_sent[0].settings).toHex(' '), expected.toHex(' '));
    QCOMPARE(dialog->running, 1);
    QCOMPARE(dialog->destinationIp, Ipv4Address::fromNetworkOrder(destination));
    QCOMPARE(dialog->protocol, shownProtocol);
    checkEnableRule(*dialog, true);
    QVERIFY(dialog->isVisible());
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(m_otherOperations, 0);
}

void DlgIpOutTest::startTakesTypedValues() {
    auto dialog = openDialog(0, 0, -1, 0, 0);
    QVERIFY(showAndActivate(*dialog));

    const QStringList octets = {"239", "10", "20", "30"};
    for (int i = 0; i < CIpAddressEdit::kParts; ++i) {
        retype(control<QLineEdit>(dialog.get(), qPrintable(QStringLiteral("octet%1").arg(i))),
               octets[i]);
    }
    retype(control<CFilterEdit>(dialog.get(), "port"), QStringLiteral("5004"));
    auto* protocols = control<QComboBox>(dialog.get(), "protocol");
    protocols->setFocus(Qt::TabFocusReason);
    QTest::keyClick(protocols, Qt::Key_End);
    QCOMPARE(protocols->currentIndex(), 2);
    // The type of service is not part of the settings request, whatever is typed.
    retype(control<QLineEdit>(dialog.get(), "tos"), QStringLiteral("B8"));
    clickCheckBox(control<QCheckBox>(dialog.get(), "noStuffing"));

    QTest::mouseClick(control<QPushButton>(dialog.get(), "start"), Qt::LeftButton);

    QCOMPARE(m_sent.size(), std::size_t{1});
    QCOMPARE(wireBytes(m_sent[0].settings).toHex(' '),
             settingsRequest("02 03 138C EF0A141E 0010 000000000000000000000000").toHex(' '));
    QCOMPARE(dialog->destinationIp, Ipv4Address::fromOctets(239, 10, 20, 30));
    QCOMPARE(packed(dialog->destinationPort), 5004);
    QCOMPARE(dialog->protocol, 2);
    QCOMPARE(dialog->noStuffing, 1);
    QCOMPARE(dialog->running, 1);
    // Start is disabled now; the focus has moved on to Stop, not vanished.
    QCOMPARE(dialog->focusWidget(), control<QWidget>(dialog.get(), "stop"));
}

void DlgIpOutTest::stopSendsZeros() {
    auto dialog = openDialog(ip(239, 1, 1, 1), 5000, 2, 1, 1);
    QVERIFY(showAndActivate(*dialog));
    checkEnableRule(*dialog, true);

    QTest::mouseClick(control<QPushButton>(dialog.get(), "stop"), Qt::LeftButton);

    QCOMPARE(m_sent.size(), std::size_t{1});
    QCOMPARE(m_sent[0].from, kAdapter);
    QCOMPARE(m_sent[0].module, kModuleIp);
    QVERIFY(sameBytes(m_sent[0].settings, StreamSettings{}));
    QCOMPARE(wireBytes(m_sent[0].settings), QByteArray("TiBbaSiC") + QByteArray(22, '\0'));
    QCOMPARE(dialog->running, 0);
    checkEnableRule(*dialog, false);
    // Stop reads nothing from the controls.
    QCOMPARE(dialog->destinationIp, Ipv4Address::fromOctets(239, 1, 1, 1));
    QCOMPARE(packed(dialog->destinationPort), 5000);
    QCOMPARE(dialog->protocol, 2);
    QCOMPARE(dialog->noStuffing, 1);
}

// Not one datagram could be sent: the operator is told (text 10201), and neither the
// running state nor the destination changes.
void DlgIpOutTest::failedSendKeepsState() {
    m_sendSucceeds = false;
    auto dialog = openDialog(ip(224, 0, 0, 1), 1234, 1, 0, 0);
    QVERIFY(showAndActivate(*dialog));
    control<CIpAddressEdit>(dialog.get(), "address")->setAddress(0xEF010203);  // 239.1.2.3
    QTest::mouseClick(control<QPushButton>(dialog.get(), "start"), Qt::LeftButton);
    QCOMPARE(m_sent.size(), std::size_t{1});
    QCOMPARE(dialog->running, 0);
    QCOMPARE(dialog->destinationIp, Ipv4Address::fromOctets(224, 0, 0, 1));
    checkEnableRule(*dialog, false);

    auto running = openDialog(ip(224, 0, 0, 1), 1234, 1, 0, 1);
    QVERIFY(showAndActivate(*running));
    QTest::mouseClick(control<QPushButton>(running.get(), "stop"), Qt::LeftButton);
    QCOMPARE(m_sent.size(), std::size_t{2});
    QCOMPARE(running->running, 1);
    checkEnableRule(*running, true);
    const QString failed = QStringLiteral("Error sending command to device!");
    QCOMPARE(m_messages, QStringList({failed, failed}));
    QCOMPARE(m_messageStyles, QList<MessageStyle>({MessageStyle::error, MessageStyle::error}));
}

void DlgIpOutTest::startRefused_data() {
    QTest::addColumn<QString>("portText");
    QTest::addColumn<bool>("completeAddress");
    QTest::addColumn<bool>("warning");

    // The edges of the accepted 1..65535 are in startSendsSettings.
    QTest::newRow("port 0") << "0" << true << false;
    QTest::newRow("port 65536") << "65536" << true << false;
    QTest::newRow("empty port") << "" << true << true;
    QTest::newRow("more digits than an int holds") << "99999999999" << true << true;
    QTest::newRow("valid port, incomplete address") << "5004" << false << false;
    QTest::newRow("empty port, incomplete address") << "" << false << true;
}

void DlgIpOutTest::startRefused() {
    QFETCH(QString, portText);
    QFETCH(bool, completeAddress);
    QFETCH(bool, warning);

    auto dialog = openDialog(ip(224, 0, 0, 1), 1234, 1, 0, 0);
    QVERIFY(showAndActivate(*dialog));
    auto* port = control<CFilterEdit>(dialog.get(), "port");
    retype(port, portText);
    QCOMPARE(port->text(), portText);
    clickCheckBox(control<QCheckBox>(dialog.get(), "noStuffing"));
    auto* protocols = control<QComboBox>(dialog.get(), "protocol");
    protocols->setFocus(Qt::TabFocusReason);
    QTest::keyClick(protocols, Qt::Key_End);
    if (!completeAddress) {
        retype(control<QLineEdit>(dialog.get(), "octet3"), QString());
        QCOMPARE(control<CIpAddressEdit>(dialog.get(), "address")->filledParts(), 3);
    }

    QTest::mouseClick(control<QPushButton>(dialog.get(), "start"), Qt::LeftButton);

    QVERIFY(m_sent.empty());
    QCOMPARE(dialog->running, 0);
    QCOMPARE(dialog->destinationIp, Ipv4Address::fromOctets(224, 0, 0, 1));
    checkEnableRule(*dialog, false);
    QVERIFY(dialog->isVisible());
    if (warning) {
        QCOMPARE(m_messages, QStringList{"Please enter an integer."});
        QCOMPARE(m_messageStyles.value(0), MessageStyle::warning);
        QVERIFY(port->hasFocus());
        QCOMPARE(port->selectedText(), portText);
        // Nothing was taken: the port comes first and stops the rest.
        QCOMPARE(packed(dialog->destinationPort), 1234);
        QCOMPARE(dialog->noStuffing, 0);
        QCOMPARE(dialog->protocol, 1);
    } else {
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(packed(dialog->destinationPort), portText.toInt());
        QCOMPARE(dialog->noStuffing, 1);
        QCOMPARE(dialog->protocol, 2);
    }
}

void DlgIpOutTest::openingFromRecord_data() {
    QTest::addColumn<StreamSettings>("live");
    QTest::addColumn<StreamSettings>("saved");
    QTest::addColumn<int>("running");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<bool>("noStuffing");

    const StreamSettings saved = singleForm(0, 1, ip(224, 0, 0, 1), 1234, 0);

    QTest::newRow("single output running")
        << singleForm(3, 2, ip(239, 1, 1, 1), 5000, 0x03) << saved << 1 << "239.1.1.1"
        << "5000" << 2 << true;
    QTest::newRow("single output stopped")
        << singleForm(0, 2, ip(239, 1, 1, 1), 5000, 1) << saved << 0 << "224.0.0.1"
        << "1234" << 1 << false;
    QTest::newRow("mode with one running bit only")
        << singleForm(1, 2, ip(239, 1, 1, 1), 5000, 1) << saved << 0 << "224.0.0.1"
        << "1234" << 1 << false;

    StreamSettings entriesStopped;
    entriesStopped.outputCount = 2;
    entriesStopped.outputs[0] = outputEntry(0x1000);
    entriesStopped.outputs[1] = outputEntry(0x1000);
    entriesStopped.outputs[2] = outputEntry(0x1100);  // beyond the count: not an output
    entriesStopped.inputCount = 1;
    entriesStopped.inputs[0].control = 0x2100;  // a running input is no running output
    QTest::newRow("entries, none running")
        << entriesStopped << singleForm(0, 0, ip(10, 0, 0, 9), 4000, 1) << 0 << "10.0.0.9"
        << "4000" << 0 << true;

    StreamSettings entriesRunning;
    entriesRunning.outputCount = 2;
    entriesRunning.outputs[0] = outputEntry(0x1000);
    entriesRunning.outputs[1] = outputEntry(0x11FF);
    entriesRunning.outputs[1].ip = ip(239, 9, 9, 9);
    entriesRunning.outputs[1].port = 7000;
    QTest::newRow("running through an entry, single fields zero")
        << entriesRunning << saved << 1 << "0.0.0.0"
        << "0" << 0 << false;

    QTest::newRow("stored protocol outside the list")
        << StreamSettings{} << singleForm(0, 9, ip(224, 0, 0, 1), 1234, 0) << 0 << "224.0.0.1"
        << "1234" << -1 << false;
}

void DlgIpOutTest::openingFromRecord() {
    QFETCH(StreamSettings, live);
    QFETCH(StreamSettings, saved);
    QFETCH(int, running);
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(int, protocol);
    QFETCH(bool, noStuffing);

    DeviceRecord record;
    record.ipAddress = kModuleIp;
    record.liveStatus = live;
    record.savedSettings = saved;
    CDlgIpOut dialog(nullptr, fakeOperations());
    dialog.streamSource = noStreamSocket;
    loadDialogFromRecord(dialog, record, kAdapter);
    QVERIFY(showAndActivate(dialog));

    QCOMPARE(dialog.moduleIp, kModuleIp);
    QCOMPARE(dialog.localAdapter, kAdapter);
    QCOMPARE(dialog.running, running);
    QCOMPARE(addressText(dialog), address);
    QCOMPARE(control<CFilterEdit>(&dialog, "port")->text(), port);
    QCOMPARE(control<QComboBox>(&dialog, "protocol")->currentIndex(), protocol);
    QCOMPARE(control<QCheckBox>(&dialog, "noStuffing")->isChecked(), noStuffing);
    QVERIFY(control<QLineEdit>(&dialog, "tos")->text().isEmpty());
    checkEnableRule(dialog, running == 1);
    QVERIFY(m_sent.empty());
    QCOMPARE(m_otherOperations, 0);
}

void DlgIpOutTest::closingAsCancel_data() {
    QTest::addColumn<bool>("escapeKey");
    QTest::newRow("Escape") << true;
    QTest::newRow("close box") << false;
}

void DlgIpOutTest::closingAsCancel() {
    QFETCH(bool, escapeKey);
    auto dialog = openDialog(ip(224, 0, 0, 1), 1234, 1, 0, 0);
    QVERIFY(showAndActivate(*dialog));
    QSignalSpy rejected(dialog.get(), &QDialog::rejected);

    auto* port = control<CFilterEdit>(dialog.get(), "port");
    clickCheckBox(control<QCheckBox>(dialog.get(), "noStuffing"));
    retype(control<QLineEdit>(dialog.get(), "octet0"), QStringLiteral("10"));
    retype(port, QStringLiteral("6000"));
    if (escapeKey) {
        QTest::keyClick(port, Qt::Key_Escape);
    } else {
        QVERIFY(dialog->close());
    }

    QCOMPARE(rejected.count(), 1);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->destinationIp, Ipv4Address::fromOctets(224, 0, 0, 1));
    QCOMPARE(packed(dialog->destinationPort), 1234);
    QCOMPARE(dialog->protocol, 1);
    QCOMPARE(dialog->noStuffing, 0);
    QCOMPARE(dialog->running, 0);
    QVERIFY(m_sent.empty());
    QVERIFY(m_messages.isEmpty());
}

void DlgIpOutTest::enterOnFieldAccepts_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("portText");

    const int none = Qt::NoModifier;
    QTest::newRow("port") << "port" << int(Qt::Key_Return) << none << "5004";
    QTest::newRow("port, keypad Enter")
        << "port" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "5004";
    QTest::newRow("address") << "octet1" << int(Qt::Key_Return) << none << "5004";
    QTest::newRow("protocol") << "protocol" << int(Qt::Key_Return) << none << "5004";
    QTest::newRow("ToS") << "tos" << int(Qt::Key_Return) << none << "5004";
    QTest::newRow("No stuffings") << "noStuffing" << int(Qt::Key_Return) << none << "5004";
    QTest::newRow("port out of range") << "port" << int(Qt::Key_Return) << none << "70000";
    QTest::newRow("empty port stays open") << "port" << int(Qt::Key_Return) << none << "";
    QTest::newRow("empty port, Enter on protocol")
        << "protocol" << int(Qt::Key_Return) << none << "";
}

void DlgIpOutTest::enterOnFieldAccepts() {
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, portText);

    auto dialog = openDialog(ip(224, 0, 0, 1), 1234, 1, 0, 0);
    QVERIFY(showAndActivate(*dialog));
    QSignalSpy accepted(dialog.get(), &QDialog::accepted);

    retype(control<QLineEdit>(dialog.get(), "octet0"), QStringLiteral("10"));
    auto* port = control<CFilterEdit>(dialog.get(), "port");
    retype(port, portText);
    clickCheckBox(control<QCheckBox>(dialog.get(), "noStuffing"));
    auto* protocols = control<QComboBox>(dialog.get(), "protocol");
    protocols->setFocus(Qt::TabFocusReason);
    QTest::keyClick(protocols, Qt::Key_End);

    auto* target = control<QWidget>(dialog.get(), qPrintable(focus));
    target->setFocus(Qt::TabFocusReason);
    QTest::keyClick(target, static_cast<Qt::Key>(key),
                    static_cast<Qt::KeyboardModifiers>(modifiers));

    QVERIFY(m_sent.empty());
    QCOMPARE(dialog->destinationIp,
             Ipv4Address::fromOctets(224, 0, 0, 1));  // the address is never read here
    QCOMPARE(dialog->running, 0);
    if (portText.isEmpty()) {
        QCOMPARE(m_messages, QStringList{"Please enter an integer."});
        QVERIFY(dialog->isVisible());
        QCOMPARE(accepted.count(), 0);
        QVERIFY(port->hasFocus());
        QCOMPARE(packed(dialog->destinationPort), 1234);
        QCOMPARE(dialog->noStuffing, 0);
        QCOMPARE(dialog->protocol, 1);
    } else {
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(accepted.count(), 1);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(packed(dialog->destinationPort), portText.toInt());
        QCOMPARE(dialog->noStuffing, 1);
        QCOMPARE(dialog->protocol, 2);
    }
}

void DlgIpOutTest::enterOnButtonPresses_data() {
    QTest::addColumn<int>("running");
    QTest::addColumn<QString>("focus");  // empty: where the focus lands when the dialog opens
    QTest::addColumn<std::uint8_t>("sentMode");

    QTest::newRow("Start") << 0 << "start" << std::uint8_t{3};
    QTest::newRow("Stop") << 1 << "stop" << std::uint8_t{0};
    QTest::newRow("opened stopped") << 0 << "" << std::uint8_t{3};
    QTest::newRow("opened running") << 1 << "" << std::uint8_t{0};
}

void DlgIpOutTest::enterOnButtonPresses() {
    QFETCH(int, running);
    QFETCH(QString, focus);
    QFETCH(std::uint8_t, sentMode);

    auto dialog = openDialog(ip(224, 0, 0, 1), 1234, 1, 0, running);
    QVERIFY(showAndActivate(*dialog));
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    if (!focus.isEmpty()) {
        control<QWidget>(dialog.get(), qPrintable(focus))->setFocus(Qt::TabFocusReason);
    }
    QWidget* target = dialog->focusWidget();
    QVERIFY(target != nullptr);
    QCOMPARE(target->objectName(), running == 1 ? QStringLiteral("stop") : QStringLiteral("start"));

    QTest::keyClick(target, Qt::Key_Return);

    QCOMPARE(m_sent.size(), std::size_t{1});
    QCOMPARE(m_sent[0].settings.mode, sentMode);
    QCOMPARE(dialog->running, running == 1 ? 0 : 1);
    QVERIFY(dialog->isVisible());
    QCOMPARE(finished.count(), 0);
}

void DlgIpOutTest::storeIntoRecord_data() {
    QTest::addColumn<StreamSettings>("live");
    QTest::addColumn<std::uint32_t>("destination");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("noStuffing");
    QTest::addColumn<int>("running");
    QTest::addColumn<StreamSettings>("expected");

    StreamSettings entries;
    entries.flagWord = 0x1204;
    entries.flags = 0x02;
    entries.auxWord1 = 0xBEEF;
    entries.auxAddress = ip(1, 2, 3, 4);
    entries.outputCount = 2;
    entries.outputs[0] = outputEntry(0x1000);
    entries.outputs[1] = outputEntry(0x1100);
    entries.outputs[1].txParams = 0x12B8;
    entries.inputCount = 1;
    entries.inputs[0].control = 0x2100;
    entries.inputs[0].port = 6000;
    StreamSettings entriesStored = entries;
    entriesStored.mode = 3;
    entriesStored.protocol = 2;
    entriesStored.destinationIp = ip(239, 1, 2, 3);
    entriesStored.destinationPort = 5004;
    entriesStored.flags = 0x03;
    QTest::newRow("running, entries and other bits kept")
        << entries << ip(239, 1, 2, 3) << 5004 << 2 << 1 << 1 << entriesStored;

    QTest::newRow("stopped, no stuffings cleared")
        << singleForm(3, 2, ip(239, 1, 1, 1), 5000, 0x03) << ip(239, 1, 1, 1) << 5000 << 0 << 0 << 0
        << singleForm(0, 0, ip(239, 1, 1, 1), 5000, 0x02);
    QTest::newRow("nothing selected is kept as 255")
        << StreamSettings{} << ip(224, 0, 0, 1) << 1234 << -1 << 0 << 0
        << singleForm(0, 255, ip(224, 0, 0, 1), 1234, 0);
    QTest::newRow("port 0 is saved") << singleForm(0, 1, 0, 1234, 0) << ip(224, 0, 0, 1) << 0 << 1
                                     << 1 << 0 << singleForm(0, 1, ip(224, 0, 0, 1), 0, 1);
    QTest::newRow("port 65535 is saved")
        << singleForm(0, 1, 0, 1234, 0) << ip(224, 0, 0, 1) << 65535 << 1 << 0 << 0
        << singleForm(0, 1, ip(224, 0, 0, 1), 65535, 0);
    QTest::newRow("port 65536 keeps the last one")
        << singleForm(0, 1, 0, 1234, 0) << ip(224, 0, 0, 1) << 65536 << 1 << 0 << 0
        << singleForm(0, 1, ip(224, 0, 0, 1), 1234, 0);
    QTest::newRow("port -1 keeps the last one")
        << singleForm(0, 1, 0, 1234, 0) << ip(224, 0, 0, 1) << -1 << 1 << 0 << 0
        << singleForm(0, 1, ip(224, 0, 0, 1), 1234, 0);
}

void DlgIpOutTest::storeIntoRecord() {
    QFETCH(StreamSettings, live);
    QFETCH(std::uint32_t, destination);
    QFETCH(int, port);
    QFETCH(int, protocol);
    QFETCH(int, noStuffing);
    QFETCH(int, running);
    QFETCH(StreamSettings, expected);

    DeviceRecord record = DeviceRecord::newRecord();
    record.ipAddress = kModuleIp;
    record.liveStatus = live;
    CDlgIpOut dialog(nullptr, fakeOperations());
    dialog.streamSource = noStreamSocket;
    dialog.destinationIp = Ipv4Address::fromNetworkOrder(destination);
    dialog.destinationPort = port;
    dialog.protocol = protocol;
    dialog.noStuffing = noStuffing;
    dialog.running = running;

    storeDialogIntoRecord(dialog, record);

    QVERIFY(sameBytes(record.liveStatus, expected));
    QVERIFY(sameBytes(record.savedSettings, expected));
    QCOMPARE(record.ipAddress, kModuleIp);
}

// Start refused for an incomplete address still took the port, "No stuffings" and
// protocol; closing with Escape afterwards saves them, with the address unchanged.
void DlgIpOutTest::refusedStartValuesAreSaved() {
    DeviceRecord record = DeviceRecord::newRecord();
    record.ipAddress = kModuleIp;
    applyStatusRead(record, true, singleForm(0, 0, 0, 0, 0));
    CDlgIpOut dialog(nullptr, fakeOperations());
    dialog.streamSource = noStreamSocket;
    loadDialogFromRecord(dialog, record, kAdapter);
    QVERIFY(showAndActivate(dialog));

    retype(control<CFilterEdit>(&dialog, "port"), QStringLiteral("6000"));
    clickCheckBox(control<QCheckBox>(&dialog, "noStuffing"));
    auto* protocols = control<QComboBox>(&dialog, "protocol");
    protocols->setFocus(Qt::TabFocusReason);
    QTest::keyClick(protocols, Qt::Key_Home);
    retype(control<QLineEdit>(&dialog, "octet2"), QString());
    QTest::mouseClick(control<QPushButton>(&dialog, "start"), Qt::LeftButton);
    QTest::keyClick(dialog.focusWidget(), Qt::Key_Escape);
    QVERIFY(m_sent.empty());
    QVERIFY(!dialog.isVisible());

    storeDialogIntoRecord(dialog, record);
    QCOMPARE(packed(record.savedSettings.destinationIp), ip(224, 0, 0, 1));
    QCOMPARE(packed(record.savedSettings.destinationPort), std::uint16_t{6000});
    QCOMPARE(record.savedSettings.protocol, std::uint8_t{0});
    QCOMPARE(record.savedSettings.flags, std::uint8_t{1});
    QCOMPARE(record.savedSettings.mode, std::uint8_t{0});
    QVERIFY(!isOutputActive(record));
}

QTEST_MAIN(DlgIpOutTest)
#include "dlg_ip_out_test.moc"
