#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>
#include <bit>
#include <cstring>

#include "net/ipv4_address.h"
#include "ui/ip_address_edit.h"

using corvane::CIpAddressEdit;
using corvane::Ipv4Address;

namespace {

// The field form of a network-order address, and back.
quint32 storedToField(std::uint32_t stored) {
    return Ipv4Address::fromNetworkOrder(stored).hostOrder();
}
std::uint32_t fieldToStored(quint32 field) {
    return Ipv4Address::fromHostOrder(field).networkOrder();
}

}  // namespace

namespace {

// A window with an edit before and after the address field, to follow Tab through it.
struct Host {
    QWidget window;
    QLineEdit* before = new QLineEdit(&window);
    CIpAddressEdit* field = new CIpAddressEdit(&window);
    QLineEdit* after = new QLineEdit(&window);

    Host() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(before);
        layout->addWidget(field);
        layout->addWidget(after);
    }
    bool showActive() {
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }
    QLineEdit* octet(int i) const {
        return field->findChild<QLineEdit*>(QStringLiteral("octet%1").arg(i));
    }
};

// Types into whichever widget has the focus, as a keyboard does. Besides ordinary characters:
// '\b' Backspace, '<' Left, '>' Right, '\t' Tab, '~' Shift+Tab.
void typeKeys(const QString& keys) {
    for (const QChar c : keys) {
        QWidget* target = QApplication::focusWidget();
        QVERIFY2(target != nullptr, "no widget has the focus");
        switch (c.unicode()) {
            case '\b':
                QTest::keyClick(target, Qt::Key_Backspace);
                break;
            case '<':
                QTest::keyClick(target, Qt::Key_Left);
                break;
            case '>':
                QTest::keyClick(target, Qt::Key_Right);
                break;
            case '\t':
                QTest::keyClick(target, Qt::Key_Tab);
                break;
            case '~':
                QTest::keyClick(target, Qt::Key_Backtab, Qt::ShiftModifier);
                break;
            default:
                QTest::keyClick(target, c.toLatin1());
                break;
        }
    }
}

}  // namespace

class IpAddressEditTest : public QObject {
    Q_OBJECT

private slots:
    void typing_data();
    void typing();
    void readOnly_data();
    void readOnly();
    void typingOverAFilledField_data();
    void typingOverAFilledField();
    void setAddressRoundTrip_data();
    void setAddressRoundTrip();
    void clearEmptiesAllParts();
    void tabLeavesTheWholeField();
    void octetsFitTheSizeHint();
    void storedAndFieldForms_data();
    void storedAndFieldForms();
};

void IpAddressEditTest::typing_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("parts");

    QTest::newRow("full address") << "192.168.0.10" << 0xC0A8000Au << 4;
    QTest::newRow("two parts") << "10.1" << 0x0A010000u << 2;
    QTest::newRow("300 clamps to 255") << "300.1.2.3" << 0xFF010203u << 4;
    QTest::newRow("last octet clamps") << "1.2.3.256" << 0x010203FFu << 4;
    QTest::newRow("three digits move on") << "999" << 0xFF000000u << 1;
    QTest::newRow("twelve digits fill all") << "255255255255" << 0xFFFFFFFFu << 4;
    QTest::newRow("dot on empty octet ignored") << ".5" << 0x05000000u << 1;
    QTest::newRow("letters and signs dropped") << "1a- 2" << 0x0C000000u << 1;
    QTest::newRow("leading zeros") << "007.1" << 0x07010000u << 2;
    QTest::newRow("dot after last octet ignored") << "1.2.3.4.5" << 0x0102032Du << 4;
    QTest::newRow("backspace goes back") << "1.2\b\b\b7" << 0x07000000u << 1;
    QTest::newRow("left goes back") << "1.2<<3" << 0x0D020000u << 2;
    QTest::newRow("right goes on") << "12>5" << 0x0C050000u << 2;
    QTest::newRow("nothing typed") << "" << 0u << 0;
}

void IpAddressEditTest::typingOverAFilledField_data() {
    QTest::addColumn<quint32>("shown");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<quint32>("address");

    // A dot right after three digits moved on must not skip the next, filled octet.
    QTest::newRow("over 0.0.0.0") << 0u << "239.10.20.30" << 0xEF0A141Eu;
    QTest::newRow("over a full address") << 0xC0A8010Au << "172.16.1.200" << 0xAC1001C8u;
    QTest::newRow("short octets move by dot") << 0x01020304u << "9.8.7.6" << 0x09080706u;
}

void IpAddressEditTest::typingOverAFilledField() {
    QFETCH(quint32, shown);
    QFETCH(QString, keys);
    QFETCH(quint32, address);

    Host host;
    QVERIFY(host.showActive());
    host.field->setAddress(shown);
    host.field->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    typeKeys(keys);
    QCOMPARE(host.field->address(), address);
    QCOMPARE(host.field->filledParts(), 4);
}

void IpAddressEditTest::typing() {
    QFETCH(QString, keys);
    QFETCH(quint32, address);
    QFETCH(int, parts);

    Host host;
    QVERIFY(host.showActive());
    host.field->setFocus();
    QSignalSpy changed(host.field, &CIpAddressEdit::changed);
    typeKeys(keys);
    QCOMPARE(host.field->address(), address);
    QCOMPARE(host.field->filledParts(), parts);
    QCOMPARE(host.field->isBlank(), parts == 0);
    QCOMPARE(changed.isEmpty(), keys.isEmpty());
}

void IpAddressEditTest::readOnly_data() {
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<quint32>("expected");
    QTest::newRow("editable") << false << 0x09020304u;
    QTest::newRow("read-only") << true << 0x01020304u;
}

void IpAddressEditTest::readOnly() {
    QFETCH(bool, readOnly);
    QFETCH(quint32, expected);
    Host host;
    QVERIFY(host.showActive());
    host.field->setAddress(0x01020304u);
    host.field->setReadOnly(readOnly);
    QCOMPARE(host.field->isReadOnly(), readOnly);
    host.field->setFocus();
    // Focus lands with the first octet selected; typing replaces it unless read-only.
    host.octet(0)->selectAll();
    typeKeys(QStringLiteral("9"));
    QCOMPARE(host.field->address(), expected);

    host.field->setEnabled(false);
    QVERIFY(!host.octet(0)->isEnabled());
    QVERIFY(!host.field->hasFocus());
}

void IpAddressEditTest::setAddressRoundTrip_data() {
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QStringList>("octets");
    QTest::newRow("zero") << 0u << QStringList{"0", "0", "0", "0"};
    QTest::newRow("192.168.0.10") << 0xC0A8000Au << QStringList{"192", "168", "0", "10"};
    QTest::newRow("all ones") << 0xFFFFFFFFu << QStringList{"255", "255", "255", "255"};
    QTest::newRow("1.2.3.4") << 0x01020304u << QStringList{"1", "2", "3", "4"};
}

void IpAddressEditTest::setAddressRoundTrip() {
    QFETCH(quint32, value);
    QFETCH(QStringList, octets);
    Host host;
    QSignalSpy changed(host.field, &CIpAddressEdit::changed);
    host.field->setAddress(value);
    QCOMPARE(host.field->address(), value);
    QCOMPARE(host.field->filledParts(), 4);
    QVERIFY(!host.field->isBlank());
    for (int i = 0; i < CIpAddressEdit::kParts; ++i) {
        QCOMPARE(host.octet(i)->text(), octets.at(i));
    }
    QCOMPARE(changed.count(), 1);  // once for all four octets
    host.field->setAddress(value);
    QCOMPARE(changed.count(), 1);  // the same value again changes nothing
}

void IpAddressEditTest::clearEmptiesAllParts() {
    Host host;
    host.field->setAddress(0xC0A8000Au);
    QSignalSpy changed(host.field, &CIpAddressEdit::changed);
    host.field->clear();
    QCOMPARE(host.field->filledParts(), 0);
    QVERIFY(host.field->isBlank());
    QCOMPARE(host.field->address(), 0u);
    QCOMPARE(changed.count(), 1);
    host.field->clear();
    QCOMPARE(changed.count(), 1);
}

// Tab enters the field at its first octet and leaves it from any octet; Shift+Tab likewise.
void IpAddressEditTest::tabLeavesTheWholeField() {
    Host host;
    QVERIFY(host.showActive());
    host.before->setFocus();
    typeKeys(QStringLiteral("\t"));

    QCOMPARE(QApplication::focusWidget(), host.octet(0));
    typeKeys(QStringLiteral("1.2.\t"));
    QCOMPARE(QApplication::focusWidget(), host.after);
    typeKeys(QStringLiteral("~"));
    QVERIFY(host.field->isAncestorOf(QApplication::focusWidget()));
    typeKeys(QStringLiteral("~"));
    QCOMPARE(QApplication::focusWidget(), host.before);
    QCOMPARE(host.field->filledParts(), 2);
}

// At its 100 x 12 dialog-unit size every octet still shows three digits.
void IpAddressEditTest::octetsFitTheSizeHint() {
    Host host;
    QVERIFY(host.showActive());
    const QSize hint = host.field->sizeHint();
    const QFontMetrics metrics(host.field->font());
    QVERIFY(hint.width() > hint.height());
    QVERIFY(hint.height() >= metrics.height());
    QVERIFY(host.field->minimumSizeHint().width() <= hint.width());
    host.field->setFixedSize(hint);
    QTRY_COMPARE(host.field->size(), hint);
    host.field->layout()->activate();
    for (int i = 0; i < CIpAddressEdit::kParts; ++i) {
        QVERIFY2(
            host.octet(i)->width() >= metrics.horizontalAdvance(QStringLiteral("255")),
            qPrintable(QStringLiteral("octet %1 is %2 px").arg(i).arg(host.octet(i)->width())));
    }
}

void IpAddressEditTest::storedAndFieldForms_data() {
    QTest::addColumn<QByteArray>("storedBytes");  // memory order of network order
    QTest::addColumn<quint32>("field");
    QTest::newRow("192.168.0.10") << QByteArray("\xC0\xA8\x00\x0A", 4) << 0xC0A8000Au;
    QTest::newRow("10.0.0.1") << QByteArray("\x0A\x00\x00\x01", 4) << 0x0A000001u;
    QTest::newRow("0.0.0.0") << QByteArray(4, '\0') << 0u;
    QTest::newRow("255.255.255.0") << QByteArray("\xFF\xFF\xFF\x00", 4) << 0xFFFFFF00u;
}

void IpAddressEditTest::storedAndFieldForms() {
    QFETCH(QByteArray, storedBytes);
    QFETCH(quint32, field);
    std::uint32_t stored = 0;
    std::memcpy(&stored, storedBytes.constData(), sizeof stored);

    QCOMPARE(storedToField(stored), field);
    const std::uint32_t back = fieldToStored(field);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&back), sizeof back), storedBytes);
    QCOMPARE(fieldToStored(storedToField(stored)), stored);
    QCOMPARE(storedToField(fieldToStored(field)), field);
    if constexpr (std::endian::native == std::endian::little) {
        // On our hosts the conversion is a plain reversal of the four bytes.
        QCOMPARE(fieldToStored(field), qbswap(field));
    }
}

QTEST_MAIN(IpAddressEditTest)
#include "ip_address_edit_test.moc"
