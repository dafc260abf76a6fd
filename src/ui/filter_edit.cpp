#include "ui/filter_edit.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

namespace corvane {

namespace {

// Object name of the context menu's Paste entry, as later Qt versions name it too.
constexpr auto kPasteActionName = "edit-paste";

}  // namespace

CFilterEdit::CFilterEdit(QWidget* parent) : QLineEdit(parent) {}

bool CFilterEdit::isAllowedText(const QString& text) const {
    for (const QChar c : text) {
        if (!m_allowedChars.contains(c)) {
            return false;
        }
    }
    return true;
}

// Typed keys carry control characters (Backspace, Tab, Ctrl+letter) that must keep working;
// only printable characters are held against the set.
bool CFilterEdit::isAllowedKeyText(const QString& text) const {
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control && !m_allowedChars.contains(c)) {
            return false;
        }
    }
    return true;
}

QString CFilterEdit::clipboardText(QClipboard::Mode mode) const {
    // QClipboard::text gives the empty text when the clipboard holds no text, which is what
    // the paste wants: an empty paste deletes the selection.
    return QGuiApplication::clipboard()->text(mode);
}

bool CFilterEdit::hasSelectionClipboard() const {
    return QGuiApplication::clipboard()->supportsSelection();
}

void CFilterEdit::pasteFiltered(QClipboard::Mode mode) {
    if (isReadOnly()) {
        return;
    }
    const QString text = clipboardText(mode);
    if (isAllowedText(text)) {
        insert(text);
    }
}

bool CFilterEdit::isPasteKey(const QKeyEvent* event) const {
    if (event->matches(QKeySequence::Paste)) {
        return true;
    }
    // Shift+Insert is a paste key on every desktop, whatever the key scheme says.
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    return event->key() == Qt::Key_Insert && mods == Qt::ShiftModifier;
}

// Mirrors QLineEdit's own rule for when a key press inserts its text: never with Ctrl or
// Ctrl+Shift alone (those are shortcuts), except for formatting characters.
bool CFilterEdit::wouldInsertText(const QKeyEvent* event) const {
    const QString text = event->text();
    if (text.isEmpty()) {
        return false;
    }
    if (text.front().category() == QChar::Other_Format) {
        return true;
    }
    const auto mods = event->modifiers();
    return mods != Qt::ControlModifier && mods != (Qt::ShiftModifier | Qt::ControlModifier);
}

void CFilterEdit::keyPressEvent(QKeyEvent* event) {
    if (isReadOnly()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (isPasteKey(event)) {
        pasteFiltered(QClipboard::Clipboard);
        event->accept();
        return;
    }
    if (wouldInsertText(event) && !isAllowedKeyText(event->text())) {
        // Dropped without a beep and without passing it on to the dialog.
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void CFilterEdit::mouseReleaseEvent(QMouseEvent* event) {
    // QLineEdit would paste the X11 selection here unfiltered, so the middle button never
    // reaches it.
    if (event->button() == Qt::MiddleButton) {
        if (hasSelectionClipboard() && !isReadOnly()) {
            deselect();
            pasteFiltered(QClipboard::Selection);
        }
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

// Qt 6.4 names none of the standard menu's actions and their texts are translated; the Paste
// entry is the one wired to QLineEdit::paste, and disconnecting it tells which that is. Qt 6.4
// connects by signature, later versions by member pointer; both are tried.
bool CFilterEdit::detachFromPlainPaste(QAction* action) {
    if (disconnect(action, &QAction::triggered, this, &QLineEdit::paste)) {
        return true;
    }
    return disconnect(action, SIGNAL(triggered()), this, SLOT(paste()));
}

QMenu* CFilterEdit::createFilteredContextMenu() {
    QMenu* menu = createStandardContextMenu();
    const QList<QAction*> actions = menu->actions();
    for (QAction* action : actions) {
        if (!detachFromPlainPaste(action)) {
            continue;
        }
        action->setObjectName(QLatin1String(kPasteActionName));
        connect(action, &QAction::triggered, this, [this] { pasteFiltered(); });
        // Offer Paste only when it would insert something.
        const QString text = clipboardText(QClipboard::Clipboard);
        action->setEnabled(!isReadOnly() && !text.isEmpty() && isAllowedText(text));
    }
    return menu;
}

void CFilterEdit::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createFilteredContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

bool CFilterEdit::acceptsDroppedText(const QMimeData* mime) const {
    return mime != nullptr && mime->hasText() && isAllowedText(mime->text());
}

void CFilterEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (!acceptsDroppedText(event->mimeData())) {
        event->ignore();
        return;
    }
    QLineEdit::dragEnterEvent(event);
}

void CFilterEdit::dragMoveEvent(QDragMoveEvent* event) {
    if (!acceptsDroppedText(event->mimeData())) {
        event->ignore();
        return;
    }
    QLineEdit::dragMoveEvent(event);
}

void CFilterEdit::dropEvent(QDropEvent* event) {
    if (!acceptsDroppedText(event->mimeData())) {
        event->ignore();
        return;
    }
    QLineEdit::dropEvent(event);
}

void CFilterEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (commit.isEmpty() || isAllowedText(commit) || isReadOnly()) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    // Keep the composition on screen but drop the whole commit, replacement included.
    QInputMethodEvent withoutCommit(event->preeditString(), event->attributes());
    QLineEdit::inputMethodEvent(&withoutCommit);
    event->accept();
}

}  // namespace corvane
