#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QScopedPointer>
#include <QtTest>

#include "ui/filter_edit.h"

using corvane::CFilterEdit;

namespace {

const QString kDigits = QStringLiteral("0123456789");

enum class PasteRoute { CtrlV, ShiftInsert, ContextMenu, ProgramSlot };

// Puts text on the clipboard; a null string leaves it holding data but no text.
void setClipboard(const QString& text, QClipboard::Mode mode = QClipboard::Clipboard) {
    auto* mime = new QMimeData;
    if (!text.isNull()) {
        mime->setText(text);
    } else {
        mime->setData(QStringLiteral("application/octet-stream"), QByteArray("\x01\x02", 2));
    }
    QGuiApplication::clipboard()->setMimeData(mime, mode);
}

QAction* pasteAction(QMenu* menu) {
    for (QAction* action : menu->actions()) {
        if (action->objectName() == QLatin1String("edit-paste")) {
            return action;
        }
    }
    return nullptr;
}

// Stands in for an X11 selection clipboard, which the offscreen platform does not have.
class SelectionFilterEdit : public CFilterEdit {
public:
    QString selectionText;

protected:
    QString clipboardText(QClipboard::Mode mode) const override {
        return mode == QClipboard::Selection ? selectionText : CFilterEdit::clipboardText(mode);
    }
    bool hasSelectionClipboard() const override { return true; }
};

}  // namespace

Q_DECLARE_METATYPE(PasteRoute)

class FilterEditTest : public QObject {
    Q_OBJECT

private slots:
    void typedKeys_data();
    void typedKeys();
    void nonLatinTyped_data();
    void nonLatinTyped();
    void paste_data();
    void paste();
    void contextMenuPasteEnabled_data();
    void contextMenuPasteEnabled();
    void middleButtonPaste_data();
    void middleButtonPaste();
    void middleButtonPasteRealSelection();
    void dropAndInputMethod_data();
    void dropAndInputMethod();
    void programTextIsNotFiltered();
};

void FilterEditTest::typedKeys_data() {
    QTest::addColumn<QString>("allowed");
    QTest::addColumn<QTestEventList>("keys");
    QTest::addColumn<QString>("expected");

    auto keys = [](std::initializer_list<Qt::Key> list) {
        QTestEventList events;
        for (Qt::Key key : list) {
            events.addKeyClick(key);
        }
        return events;
    };
    QTestEventList letters;
    letters.addKeyClicks(QStringLiteral("abcXYZ"));
    QTestEventList signs;
    signs.addKeyClicks(QStringLiteral(" -+.,"));
    QTestEventList digits;
    digits.addKeyClicks(QStringLiteral("45"));
    QTestEventList moveAndType = keys({Qt::Key_Left, Qt::Key_Left});
    moveAndType.addKeyClick('9');
    QTestEventList homeDelete = keys({Qt::Key_Home, Qt::Key_Delete});
    QTestEventList selectAllType;
    selectAllType.addKeyClick(Qt::Key_A, Qt::ControlModifier);
    selectAllType.addKeyClick('7');
    QTestEventList keypadDigit;
    keypadDigit.addKeyClick(Qt::Key_5, Qt::KeypadModifier);
    QTestEventList controlKeys = keys({Qt::Key_Tab, Qt::Key_Return, Qt::Key_Escape});

    QTest::newRow("letters dropped") << kDigits << letters << "123";
    QTest::newRow("space and signs dropped") << kDigits << signs << "123";
    QTest::newRow("digits typed") << kDigits << digits << "12345";
    QTest::newRow("backspace") << kDigits << keys({Qt::Key_Backspace}) << "12";
    QTest::newRow("home then delete") << kDigits << homeDelete << "23";
    QTest::newRow("cursor movement") << kDigits << moveAndType << "1923";
    QTest::newRow("select all shortcut") << kDigits << selectAllType << "7";
    QTest::newRow("keypad digit") << kDigits << keypadDigit << "1235";
    QTest::newRow("tab enter escape insert nothing") << kDigits << controlKeys << "123";
    QTest::newRow("empty set drops digits") << QString() << digits << "123";
    QTest::newRow("empty set drops letters") << QString() << letters << "123";
    QTest::newRow("empty set takes backspace") << QString() << keys({Qt::Key_Backspace}) << "12";
    QTest::newRow("empty set takes delete") << QString() << homeDelete << "23";
    QTest::newRow("case-sensitive set") << QStringLiteral("abc") << letters << "123abc";
}

void FilterEditTest::typedKeys() {
    QFETCH(QString, allowed);
    QFETCH(QTestEventList, keys);
    QFETCH(QString, expected);

    CFilterEdit edit;
    edit.setAllowedChars(allowed);
    edit.setText(QStringLiteral("123"));
    edit.show();
    keys.simulate(&edit);
    QCOMPARE(edit.text(), expected);
}

// Characters beyond ASCII (Cyrillic here) are printable and pass only when in the set.
void FilterEditTest::nonLatinTyped_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("in set") << QStringLiteral("ж") << QStringLiteral("xж");
    QTest::newRow("not in set") << QStringLiteral("з") << QStringLiteral("x");
}

void FilterEditTest::nonLatinTyped() {
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    CFilterEdit edit;
    edit.setAllowedChars(QStringLiteral("xж"));
    edit.setText(QStringLiteral("x"));
    edit.show();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed);
    QApplication::sendEvent(&edit, &press);
    QCOMPARE(edit.text(), expected);
}

void FilterEditTest::paste_data() {
    QTest::addColumn<QString>("allowed");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<PasteRoute>("route");
    QTest::addColumn<QString>("expected");

    // The field holds "9999" with the middle "99" selected.
    const QString none;
    QTest::newRow("ctrl+v digits") << kDigits << "1234" << PasteRoute::CtrlV << "912349";
    QTest::newRow("shift+insert digits")
        << kDigits << "1234" << PasteRoute::ShiftInsert << "912349";
    QTest::newRow("menu digits") << kDigits << "1234" << PasteRoute::ContextMenu << "912349";
    QTest::newRow("slot digits") << kDigits << "1234" << PasteRoute::ProgramSlot << "912349";
    QTest::newRow("ctrl+v line break") << kDigits << "1234\n" << PasteRoute::CtrlV << "9999";
    QTest::newRow("shift+insert line break") << kDigits << "1234\n"
                                             << PasteRoute::ShiftInsert << "9999";
    QTest::newRow("ctrl+v letter") << kDigits << "12a4" << PasteRoute::CtrlV << "9999";
    QTest::newRow("shift+insert letter") << kDigits << "12a4" << PasteRoute::ShiftInsert << "9999";
    QTest::newRow("menu letter") << kDigits << "12a4" << PasteRoute::ContextMenu << "9999";
    QTest::newRow("ctrl+v no text deletes selection")
        << kDigits << none << PasteRoute::CtrlV << "99";
    QTest::newRow("ctrl+v empty text deletes selection")
        << kDigits << "" << PasteRoute::CtrlV << "99";
    QTest::newRow("empty set ctrl+v") << QString() << "1234" << PasteRoute::CtrlV << "9999";
    QTest::newRow("empty set menu") << QString() << "1234" << PasteRoute::ContextMenu << "9999";
}

void FilterEditTest::paste() {
    QFETCH(QString, allowed);
    QFETCH(QString, clipboard);
    QFETCH(PasteRoute, route);
    QFETCH(QString, expected);

    CFilterEdit edit;
    edit.setAllowedChars(allowed);
    edit.setText(QStringLiteral("9999"));
    edit.setSelection(1, 2);
    edit.show();

    switch (route) {
        case PasteRoute::CtrlV:
            setClipboard(clipboard);
            QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
            break;
        case PasteRoute::ShiftInsert:
            setClipboard(clipboard);
            QTest::keyClick(&edit, Qt::Key_Insert, Qt::ShiftModifier);
            break;
        case PasteRoute::ContextMenu: {
            // The menu is built while an allowed text is on the clipboard, so its Paste is
            // enabled; the clipboard then changes, as it may while a menu is open. Triggering
            // must still go through the filter, not through QLineEdit::paste.
            setClipboard(QStringLiteral("5"));
            QScopedPointer<QMenu> menu(edit.createFilteredContextMenu());
            QAction* action = pasteAction(menu.data());
            QVERIFY(action != nullptr);
            setClipboard(clipboard);
            action->setEnabled(true);
            action->trigger();
            break;
        }
        case PasteRoute::ProgramSlot:
            setClipboard(clipboard);
            edit.pasteFiltered();
            break;
    }
    QCOMPARE(edit.text(), expected);
}

void FilterEditTest::contextMenuPasteEnabled_data() {
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("allowed text") << "1234" << false << true;
    QTest::newRow("disallowed text") << "12a4" << false << false;
    QTest::newRow("line break") << "12\n" << false << false;
    QTest::newRow("no text") << QString() << false << false;
}

void FilterEditTest::contextMenuPasteEnabled() {
    QFETCH(QString, clipboard);
    QFETCH(bool, readOnly);
    QFETCH(bool, enabled);
    CFilterEdit edit;
    edit.setAllowedChars(kDigits);
    edit.setReadOnly(readOnly);
    setClipboard(clipboard);
    QScopedPointer<QMenu> menu(edit.createFilteredContextMenu());
    QAction* action = pasteAction(menu.data());
    QVERIFY(action != nullptr);
    QCOMPARE(action->isEnabled(), enabled);
}

void FilterEditTest::middleButtonPaste_data() {
    QTest::addColumn<QString>("selection");
    QTest::addColumn<QString>("expected");
    QTest::newRow("digits inserted at the click") << "56"
                                                  << "9956";
    QTest::newRow("letter refused") << "12a4"
                                    << "99";
    QTest::newRow("line break refused") << "56\n"
                                        << "99";
}

// Real middle-button clicks; the selection clipboard is simulated by the test subclass
// because the offscreen platform has none (QClipboard::supportsSelection() is false).
void FilterEditTest::middleButtonPaste() {
    QFETCH(QString, selection);
    QFETCH(QString, expected);
    SelectionFilterEdit edit;
    edit.setAllowedChars(kDigits);
    edit.setText(QStringLiteral("99"));
    edit.selectionText = selection;
    edit.resize(200, edit.sizeHint().height());
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    const QPoint pastEnd(edit.width() - 4, edit.height() / 2);
    QTest::mouseClick(&edit, Qt::MiddleButton, Qt::NoModifier, pastEnd);
    QCOMPARE(edit.text(), expected);
}

void FilterEditTest::middleButtonPasteRealSelection() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection()) {
        QSKIP("this platform has no selection clipboard; middleButtonPaste covers the path");
    }
    CFilterEdit edit;
    edit.setAllowedChars(kDigits);
    edit.resize(200, edit.sizeHint().height());
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    setClipboard(QStringLiteral("12a4"), QClipboard::Selection);
    QTest::mouseClick(&edit, Qt::MiddleButton);
    QCOMPARE(edit.text(), QString());
    setClipboard(QStringLiteral("56"), QClipboard::Selection);
    QTest::mouseClick(&edit, Qt::MiddleButton);
    QCOMPARE(edit.text(), QStringLiteral("56"));
}

void FilterEditTest::dropAndInputMethod_data() {
    QTest::addColumn<bool>("drop");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("drop digits") << true << "56"
                                 << "9956";
    QTest::newRow("drop letter") << true << "5a"
                                 << "99";
    QTest::newRow("drop line break") << true << "5\n"
                                     << "99";
    QTest::newRow("commit digits") << false << "56"
                                   << "9956";
    QTest::newRow("commit letter") << false << "5a"
                                   << "99";
}

void FilterEditTest::dropAndInputMethod() {
    QFETCH(bool, drop);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    CFilterEdit edit;
    edit.setAllowedChars(kDigits);
    edit.setText(QStringLiteral("99"));
    edit.resize(200, edit.sizeHint().height());
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    if (drop) {
        QMimeData mime;
        mime.setText(text);
        const QPointF pastEnd(edit.width() - 4, edit.height() / 2);
        QDragEnterEvent enter(pastEnd.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&edit, &enter);
        QCOMPARE(enter.isAccepted(), expected != QLatin1String("99"));
        QDropEvent dropEvent(pastEnd, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&edit, &dropEvent);
    } else {
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(&edit, &commit);
    }
    QCOMPARE(edit.text(), expected);
}

void FilterEditTest::programTextIsNotFiltered() {
    CFilterEdit edit;
    edit.setAllowedChars(kDigits);
    edit.setText(QStringLiteral("ab-1\n"));
    QCOMPARE(edit.text(), QStringLiteral("ab-1\n"));
    // A later change of the set leaves the text alone as well.
    edit.setAllowedChars(QString());
    QCOMPARE(edit.text(), QStringLiteral("ab-1\n"));
}

QTEST_MAIN(FilterEditTest)
#include "filter_edit_test.moc"
