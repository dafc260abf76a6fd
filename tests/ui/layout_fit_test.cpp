// Every caption whole and inside its window: each window of the program (the main
// window, the four wizard pages, the IP output dialog and the message boxes), in English
// and in Russian, at the desktop's font and at a font 1.25 times larger. A label's or
// button's text must fit the rectangle the style leaves for it, and every control must
// lie inside its window.
#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "app/string_tables.h"
#include "devices/device_list_storage.h"
#include "reports/address_formats.h"
#include "ui/add_device_wizard.h"
#include "ui/dlg_ip_out.h"
#include "ui/dlg_main.h"
#include "ui/language.h"
#include "ui/message_box.h"
#include "ui/modal_driver.h"
#include "ui/page_add_list.h"
#include "ui/stream_readout.h"

using namespace corvane;

namespace {

QString where(const QWidget* widget, const QWidget* window) {
    QString name = widget->objectName();
    if (name.isEmpty()) {
        name = QString::fromLatin1(widget->metaObject()->className());
    }
    return window->windowTitle() + QLatin1String(" / ") + name;
}

bool isInsideScrollArea(const QWidget* widget, const QWidget* window) {
    for (const QWidget* up = widget->parentWidget(); up != nullptr && up != window;
         up = up->parentWidget()) {
        if (qobject_cast<const QAbstractScrollArea*>(up) != nullptr) {
            return true;
        }
    }
    return false;
}

// The width and height a text needs in `font`, on one line or wrapped at `width`.
QSize textSize(const QFont& font, const QString& text, int wrapWidth = 0) {
    const QFontMetrics metrics(font);
    const QString shown = QString(text).remove(QLatin1Char('&'));
    if (wrapWidth > 0) {
        return metrics.boundingRect(QRect(0, 0, wrapWidth, 100000), Qt::TextWordWrap, shown).size();
    }
    return metrics.size(0, shown);
}

// Empty when `text` in `needed` fits `room`, else what it needs and has.
QString misfit(const QString& text, QSize needed, QSize room) {
    if (needed.width() <= room.width() && needed.height() <= room.height()) {
        return {};
    }
    return QStringLiteral("\"%1\" needs %2x%3, has %4x%5")
        .arg(text)
        .arg(needed.width())
        .arg(needed.height())
        .arg(room.width())
        .arg(room.height());
}

QString labelMisfit(const QLabel* label) {
    if (label->text().isEmpty() || !label->pixmap().isNull()) {
        return {};
    }
    const QRect room = label->contentsRect().adjusted(label->margin(), label->margin(),
                                                      -label->margin(), -label->margin());
    return misfit(label->text(),
                  textSize(label->font(), label->text(), label->wordWrap() ? room.width() : 0),
                  room.size());
}

QString buttonMisfit(const QAbstractButton* button) {
    if (button->text().isEmpty()) {
        return {};
    }
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    QStyle::SubElement contents = QStyle::SE_PushButtonContents;
    if (qobject_cast<const QCheckBox*>(button) != nullptr) {
        contents = QStyle::SE_CheckBoxContents;
    }
    const QRect room = button->style()->subElementRect(contents, &option, button);
    return misfit(button->text(), textSize(button->font(), button->text()), room.size());
}

// A field's text, as typed or loaded, must show whole between its frame and margins.
QString lineEditMisfit(const QLineEdit* edit) {
    if (edit->text().isEmpty()) {
        return {};
    }
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame()
                           ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                           : 0;
    const QMargins margins = edit->textMargins();
    const QRect room = edit->style()
                           ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                           .marginsRemoved(margins);
    // QLineEdit keeps a further two pixels on each side of its text.
    const int needed = textSize(edit->font(), edit->text()).width() + 4;
    if (needed > room.width()) {
        return QStringLiteral("\"%1\" needs %2, has %3")
            .arg(edit->text())
            .arg(needed)
            .arg(room.width());
    }
    return {};
}

// What does not fit in `window`, one line per fault.
QStringList misfits(QWidget* window) {
    QStringList faults;
    const QRect inside = window->rect();
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window) || widget->isWindow() ||
            isInsideScrollArea(widget, window)) {
            continue;
        }
        const QRect placed(widget->mapTo(window, QPoint(0, 0)), widget->size());
        if (!inside.contains(placed)) {
            faults << where(widget, window) +
                          QStringLiteral(": at %1,%2 %3x%4, outside the window's %5x%6")
                              .arg(placed.x())
                              .arg(placed.y())
                              .arg(placed.width())
                              .arg(placed.height())
                              .arg(inside.width())
                              .arg(inside.height());
        }
        QString fault;
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            fault = labelMisfit(label);
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            fault = buttonMisfit(button);
        } else if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
            fault = lineEditMisfit(edit);
        }
        if (!fault.isEmpty()) {
            faults << where(widget, window) + QStringLiteral(": ") + fault;
        }
    }
    return faults;
}

DeviceHello module(std::uint8_t last) {
    DeviceHello hello;
    hello.mac = {0x02, 0xC0, 0x7A, 0xDE, 0x00, last};
    hello.ipAddress = Ipv4Address::fromOctets(10, 77, 64, last).networkOrder();
    hello.networkMask = Ipv4Address::fromOctets(255, 255, 192, 0).networkOrder();
    hello.defaultGateway = Ipv4Address::fromOctets(10, 77, 0, 254).networkOrder();
    return hello;
}

// A measurement without a socket: the stream line's texts are set by hand below.
class SilentSource : public StreamSource {
public:
    int fd() const override { return -1; }
    bool pump(const std::function<StreamTime()>&, std::string&) override { return true; }
    StreamSnapshot snapshot(StreamTime) const override { return {}; }
};

// Each form of the IP output dialog's stream line, with the widest numbers it shows.
QStringList streamLineTexts() {
    using Kind = StreamReadoutKind;
    const StreamReadoutFigures forms[] = {
        {Kind::arriving, 1888.8e6, 888.88e6, 0, 0},
        {Kind::arriving, 888.88e6, 888.88e6, 88888, 0},
        {Kind::arriving, 888.88e6, 888.88e6, 88888, 8},
        {Kind::onlyStuffing, 0, 0, 0, 0},
        {Kind::nothing, 0, 0, 0, 0},
    };
    QStringList texts;
    for (const StreamReadoutFigures& figures : forms) {
        texts << QString::fromStdString(streamReadoutText(figures));
    }
    return texts;
}

}  // namespace

class LayoutFitTest : public QObject {
    Q_OBJECT

    QFont m_desktopFont;
    QTemporaryDir m_folder;

    // The row's language, and the desktop's font grown by `scale`, for every window
    // made from here on.
    void useLanguageAndFont(bool russian, double scale) {
        QFont font = m_desktopFont;
        font.setPointSizeF(m_desktopFont.pointSizeF() * scale);
        QApplication::setFont(font);
        applyLanguage(russian);
    }

    void check(QWidget* window) {
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QStringList faults = misfits(window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

private slots:
    void initTestCase() {
        m_desktopFont = QApplication::font();
        QVERIFY(m_folder.isValid());
    }
    void cleanup() {
        QApplication::setFont(m_desktopFont);
        applyLanguage(false);
        setMessageHandler({});
    }

    void everyWindow_data() {
        QTest::addColumn<bool>("russian");
        QTest::addColumn<double>("scale");
        for (const bool russian : {false, true}) {
            for (const double scale : {1.0, 1.25}) {
                QTest::addRow("%s at %.2f", russian ? "Russian" : "English", scale)
                    << russian << scale;
            }
        }
    }
    void everyWindow() {
        QFETCH(bool, russian);
        QFETCH(double, scale);
        useLanguageAndFont(russian, scale);

        SettingsFile settings(m_folder.filePath(QStringLiteral("layout.ini")).toStdString());
        settings.writeInt("Layout", "Language", russian ? 1 : 0);
        DeviceRecord record = DeviceRecord::newRecord();
        record.ipAddress = Ipv4Address::fromOctets(10, 77, 64, 11);
        record.macAddress = "02:C0:7A:DE:00:0B";
        saveDeviceList(settings, {record});
        CDlgMain main(settings, DeviceOperations{}, [](std::vector<LocalAddress>& list) {
            list = {{Ipv4Address::fromOctets(10, 77, 0, 1), Ipv4Address::fromOctets(255, 255, 0, 0),
                     0}};
            return true;
        });
        main.show();
        check(&main);

        CDlgIpOut dialog(&main);
        dialog.destinationIp = Ipv4Address::fromOctets(239, 255, 255, 255);
        dialog.destinationPort = 65535;
        dialog.protocol = 0;
        dialog.show();
        check(&dialog);
        dialog.hide();

        // Running: the stream line at its foot, in each of its forms.
        dialog.running = 1;
        dialog.streamSource = [](const StreamDestination&, const StreamReceiveOptions&, StreamTime,
                                 std::string&) -> std::unique_ptr<StreamSource> {
            return std::make_unique<SilentSource>();
        };
        dialog.show();
        auto* streamLine = dialog.findChild<QLabel*>(QStringLiteral("streamReadout"));
        QVERIFY(streamLine != nullptr && streamLine->isVisible());
        for (const QString& text : streamLineTexts()) {
            streamLine->setText(text);
            check(&dialog);
        }
        dialog.hide();

        DeviceOperations segment;
        segment.searchDevices = [](const LocalAddress&, std::uint16_t,
                                   std::vector<DeviceHello>& found) {
            found = {module(21), module(22)};
            return true;
        };
        CAddDeviceWizard wizard(&main, segment);
        wizard.show();
        QTRY_VERIFY(wizard.listPage()->searchedOnce() && !wizard.listPage()->searching());
        check(&wizard);  // the list page
        auto* list = wizard.findChild<QTreeWidget*>(QStringLiteral("deviceList"));
        list->setCurrentItem(list->topLevelItem(0));
        wizard.next();
        QCOMPARE(wizard.currentId(), int{CAddDeviceWizard::kConfigurePage});
        check(&wizard);
        wizard.next();  // unchanged settings: straight to the finish page
        QCOMPARE(wizard.currentId(), int{CAddDeviceWizard::kFinishPage});
        check(&wizard);
        wizard.restart();
        wizard.findChild<QCheckBox*>(QStringLiteral("enterDirectlyBox"))->click();
        wizard.next();
        QCOMPARE(wizard.currentId(), int{CAddDeviceWizard::kDirectPage});
        check(&wizard);
        wizard.done(QDialog::Rejected);
    }

    void everyMessageBox_data() { everyWindow_data(); }
    void everyMessageBox() {
        QFETCH(bool, russian);
        QFETCH(double, scale);
        useLanguageAndFont(russian, scale);
        const QString removal = fillTextArguments(QString::fromStdString(loadText(10101)),
                                                  {QStringLiteral("255.255.255.254")});
        const QString fileFailed = fillTextArguments(
            QString::fromStdString(loadText(static_cast<int>(ExtraText::fileWriteFailed))),
            {QStringLiteral("/home/operator/passports/passport_02C07ADE000B_20261208094512.txt"),
             QStringLiteral("No space left on device")});
        const QList<QPair<QString, MessageStyle>> messages = {
            {removal, MessageStyle::question},
            {QString::fromStdString(loadText(10102)), MessageStyle::error},
            {QString::fromStdString(loadText(10104)), MessageStyle::error},
            {QString::fromStdString(loadText(10105)), MessageStyle::error},
            {QString::fromStdString(loadText(10106)), MessageStyle::warning},
            {QString::fromStdString(loadText(10107)), MessageStyle::error},
            {QString::fromStdString(loadText(10201)), MessageStyle::error},
            {QString::fromStdString(loadText(static_cast<int>(ExtraText::pleaseEnterInteger))),
             MessageStyle::warning},
            {fileFailed, MessageStyle::error},
        };
        for (const auto& [text, style] : messages) {
            QStringList faults;
            bool seen = false;
            testing::whenReady([] { return testing::activeModal<QMessageBox>() != nullptr; },
                               [&] {
                                   QMessageBox* box = testing::activeModal<QMessageBox>();
                                   seen = QTest::qWaitForWindowExposed(box);
                                   faults = misfits(box);
                                   box->done(0);
                               });
            showMessageText(nullptr, text, style);
            QVERIFY2(seen, qPrintable(text));
            QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
        }
    }
};

QTEST_MAIN(LayoutFitTest)
#include "layout_fit_test.moc"
